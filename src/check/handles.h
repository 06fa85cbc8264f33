// SPDX-License-Identifier: MIT
// Owners of the C resources the fetcher holds (libcurl's handles, URLs, lists and strings, and
// descriptors): each is released on every path out of the scope or object that holds it, the
// failing ones included. Every curl resource has its owner here and nowhere else.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <utility>

#include <unistd.h>

// Gives a libcurl resource back through the function libcurl has for it.
template <auto release> struct CurlRelease
{
    template <typename T> void operator()(T* resource) const { release(resource); }
};

using CurlEasy = std::unique_ptr<CURL, CurlRelease<curl_easy_cleanup>>;
using CurlMulti = std::unique_ptr<CURLM, CurlRelease<curl_multi_cleanup>>;
using CurlShare = std::unique_ptr<CURLSH, CurlRelease<curl_share_cleanup>>;
using CurlUrl = std::unique_ptr<CURLU, CurlRelease<curl_url_cleanup>>;
using CurlSlist = std::unique_ptr<curl_slist, CurlRelease<curl_slist_free_all>>;
// What libcurl hands out as text (a part of a URL, an escaped string) goes back to it.
using CurlString = std::unique_ptr<char, CurlRelease<curl_free>>;

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
