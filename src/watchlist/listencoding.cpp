// SPDX-License-Identifier: MIT
// Reading and writing the list's text in the encoding its file came in.
#include "listencoding.h"

#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr QByteArrayView Utf8Mark("\xEF\xBB\xBF");
constexpr QByteArrayView Utf16LEMark("\xFF\xFE");
constexpr QByteArrayView Utf16BEMark("\xFE\xFF");

QStringConverter::Encoding utf16Of(ListEncoding encoding)
{
    return encoding == ListEncoding::Utf16LE ? QStringConverter::Utf16LE
                                             : QStringConverter::Utf16BE;
}

} // namespace

ListText decodeList(const QByteArray& fileBytes)
{
    if (fileBytes.startsWith(Utf8Mark))
        return {ListEncoding::Utf8WithMark, fileBytes.sliced(Utf8Mark.size())};
    ListEncoding encoding = ListEncoding::Plain;
    if (fileBytes.startsWith(Utf16LEMark))
        encoding = ListEncoding::Utf16LE;
    else if (fileBytes.startsWith(Utf16BEMark))
        encoding = ListEncoding::Utf16BE;
    else
        return {ListEncoding::Plain, fileBytes};
    QStringDecoder decoder(utf16Of(encoding), QStringConverter::Flag::Stateless);
    const QString text = decoder(QByteArrayView(fileBytes).sliced(2));
    return {encoding, text.toUtf8()};
}

QByteArray encodeList(ListEncoding encoding, const QByteArray& text)
{
    switch (encoding) {
    case ListEncoding::Plain:
        return text;
    case ListEncoding::Utf8WithMark:
        return Utf8Mark.toByteArray() + text;
    case ListEncoding::Utf16LE:
    case ListEncoding::Utf16BE:
        break;
    }
    QStringEncoder encoder(utf16Of(encoding), QStringConverter::Flag::WriteBom);
    return encoder(QString::fromUtf8(text));
}

bool isNotAList(const ListText& text)
{
    return text.bytes.contains('\0');
}
