// SPDX-License-Identifier: MIT
// Owners of the C handles the fetcher holds: each is released on every path out of the scope
// or object that holds it, the failing ones included.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <utility>

#include <unistd.h>

struct CurlEasyCleanup
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlMultiCleanup
{
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct CurlShareCleanup
{
    void operator()(CURLSH* handle) const { curl_share_cleanup(handle); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareCleanup>;

// A file or socket descriptor, closed when its owner goes. close() is there for the callers
// that must know whether the close worked: a file's last write may only fail there.
class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            close();
            m_fd = other.release();
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Hands the descriptor on to whoever closes it from now.
    int release() { return std::exchange(m_fd, -1); }
    // True when there was nothing to close or the close worked.
    bool close()
    {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd = -1;
};
