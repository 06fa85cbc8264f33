// SPDX-License-Identifier: MIT
// The message of a start that found its list open elsewhere.
#include "alreadyopen.h"

#include <QDir>
#include <QMessageBox>

#include <cstdio>

void tellListAlreadyOpen(const QString& listPath)
{
    const QString where = QDir::toNativeSeparators(listPath);
    std::fprintf(stderr, "korvane: %s (%s)\n", qUtf8Printable(AlreadyOpenText),
                 qUtf8Printable(where));
    QMessageBox box(QMessageBox::Information, QStringLiteral("Korvane"),
                    AlreadyOpenText + QStringLiteral("\n\n%1\n\nIt runs where this start cannot "
                                                     "bring it forward, such as another login "
                                                     "or another display.")
                                          .arg(where),
                    QMessageBox::Ok);
    box.exec();
}

void tellNoPlaceForTheList(const QStringList& refusals)
{
    const QString text = QStringLiteral("Korvane has no folder to keep its watch list in.");
    std::fprintf(stderr, "korvane: %s\n", qUtf8Printable(text));
    for (const QString& refusal : refusals)
        std::fprintf(stderr, "korvane: %s\n", qUtf8Printable(refusal));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Korvane"),
                    text + QStringLiteral("\n\n") + refusals.join(u'\n'), QMessageBox::Ok);
    box.exec();
}
