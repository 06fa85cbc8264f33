// SPDX-License-Identifier: MIT
// The check run over the watch list.
#include "checkrun.h"

#include "datetimetext.h"
#include "downloadhtml.h"
#include "lifecycle.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

// A Yes or No says only whether the length moved: the note says from what to what.
QString lengthNote(double stored, double length)
{
    const QLocale locale;
    if (length == stored)
        return QStringLiteral("Unchanged: %1 characters of text")
            .arg(locale.toString(length, 'f', 0));
    return QStringLiteral("Changed: %1 \u2192 %2 characters of text")
        .arg(locale.toString(stored, 'f', 0), locale.toString(length, 'f', 0));
}

} // namespace

CheckRun::CheckRun(WatchList& list, WatchListFile& file, PageFetcher& fetcher, CheckRunHost& host,
                   Clock now)
    : m_list(list), m_file(file), m_fetcher(fetcher), m_host(host),
      m_now(now ? std::move(now) : Clock(nowAsGeneralDateTimeText))
{}

void CheckRun::VisitALL()
{
    m_host.setStatusText(RunningStatusText);
    m_host.setBusyPointer(true);
    m_host.repaintNow();
    const auto totalurls = qint16(m_list.Rows());
    VisitURLlist(totalurls);
    // A list that another program changed meanwhile is taken first, and this run's results go
    // to its rows. A failed save ends the run as usual, and the status line says why.
    const SaveOutcome saved = saveWatchList(m_list, m_file);
    m_host.setBusyPointer(false);
    m_host.setStatusText(saved == SaveOutcome::Saved ? DoneStatusText
                                                     : NotSavedStatusText + m_file.shortReason());
}

void CheckRun::VisitURLlist(qint16 totalurls)
{
    const int rows = std::min<int>(totalurls, m_list.Rows());
    // The hosts of the rows to come get ready while the pages before them download.
    QByteArrayList addresses;
    for (int row = 1; row < rows; ++row) {
        m_list.setCell(row, WatchList::UpdatedColumn, QByteArray());
        m_list.setMarkNote(row, QString());
        addresses << WatchList::siteAddress(m_list.cell(row, WatchList::UrlColumn));
    }
    m_fetcher.lookAhead(addresses);
    for (int row = 1; row < rows && !m_host.stopRequested(); ++row)
        checkRow(row);
    m_fetcher.lookAhead({});
}

void CheckRun::checkRow(int row)
{
    const QByteArray address = WatchList::siteAddress(m_list.cell(row, WatchList::UrlColumn));

    // The comparison value belongs to this row: a length that is missing (a new site) or not a
    // number counts as 0, never as a neighbour's length. Qt reads "nan" and "inf" as numbers;
    // no length is either.
    bool isNumber = false;
    double stored = m_list.cell(row, WatchList::LengthColumn).trimmed().toDouble(&isNumber);
    if (!isNumber || !std::isfinite(stored))
        stored = 0;

    m_host.checkingRow(row);
    if (m_host.stopRequested())
        return;

    // A page that could not be read back is judged as an empty page, never as another row's.
    const double length = double(m_fetcher.FetchPageText(address).value_or(QByteArray()).size());
    // A download given up because the run is stopping says nothing about the page.
    if (m_host.stopRequested())
        return;

    // Cells are written where they are: the current cell and the selection are the user's.
    m_list.setCell(row, WatchList::LastVisitedColumn, m_now());
    m_list.setMarkNote(row, length < 1 ? m_fetcher.errorString() : lengthNote(stored, length));
    if (length != stored) {
        m_list.setCell(row, WatchList::UpdatedColumn, length < 1 ? "Not Found" : "Yes");
        m_list.setBold(row, WatchList::UpdatedColumn, true);
        // A one-character page is never stored, so it shows "Yes" on every run.
        if (length > 1)
            m_list.setCell(row, WatchList::LengthColumn, QByteArray::number(qint64(length)));
    } else {
        m_list.setCell(row, WatchList::UpdatedColumn, length < 1 ? "Error" : "No");
        m_list.setBold(row, WatchList::UpdatedColumn, length < 1);
    }
}
