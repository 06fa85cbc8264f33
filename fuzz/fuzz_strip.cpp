// SPDX-License-Identifier: MIT
// libFuzzer target: the HTML reducer must give the slow reference's result for any bytes.
#include "strip.h"

#include "reducerreference.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const std::string expected = reference::reduceHtml(page);
    // A copy of its own, as the page fetcher hands over its working copy.
    const QByteArray actual = ReduceHtml(QByteArray(page.data(), qsizetype(page.size())));
    const std::string_view got(actual.constData(), std::size_t(actual.size()));
    if (got != expected) {
        std::fprintf(stderr,
                     "ReduceHtml differs from the reference on %zu bytes: %zu expected, "
                     "%zu got\n",
                     size, expected.size(), got.size());
        std::abort();
    }
    return 0;
}
