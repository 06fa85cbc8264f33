// SPDX-License-Identifier: MIT
// The check run over the watch list.
#include "checkrun.h"

#include "datetimetext.h"
#include "downloadhtml.h"
#include "listsave.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <algorithm>
#include <cmath>

CheckRun::CheckRun(WatchList& list, WatchListFile& file, PageFetcher& fetcher, CheckRunHost& host,
                   Clock now, QObject* parent)
    : QObject(parent), m_list(list), m_file(file), m_fetcher(fetcher), m_host(host),
      m_now(now ? std::move(now) : Clock(nowAsGeneralDateTimeText))
{}

CheckRun::~CheckRun()
{
    // The page under way goes with m_fetch; what was prepared for the pages after it goes now.
    if (m_running)
        m_fetcher.lookAhead({});
}

void CheckRun::VisitALL()
{
    if (m_running)
        return;
    m_host.showRunStatus(RunStatus::Running);
    m_host.setBusyPointer(true);
    m_host.repaintNow();
    VisitURLlist(qint16(m_list.Rows()));
}

void CheckRun::VisitURLlist(qint16 totalurls)
{
    m_running = true;
    m_stopping = false;
    m_ending = false;
    m_rows = std::min<int>(totalurls, m_list.Rows());
    m_row = 0;
    m_saved = SaveOutcome::Saved;
    // The marks are this run's from here on: none of an earlier run comes back with a row.
    m_list.forgetMarks();
    m_progress = {};
    if (m_findings)
        m_findings->beginRun();
    m_progress.sites = std::max(m_rows - 1, 0);
    // The hosts of the rows to come get ready while the pages before them download.
    QByteArrayList addresses;
    for (int row = 1; row < m_rows; ++row) {
        m_list.setCell(row, WatchList::UpdatedColumn, QByteArray());
        m_list.setCheckNote(row, {});
        addresses << WatchList::siteAddress(m_list.cell(row, WatchList::UrlColumn));
    }
    m_fetcher.lookAhead(addresses);
    // Every row begins from the event loop, so the window paints and answers between pages
    // however fast they come, and a fetch that ends at once never nests the next.
    QMetaObject::invokeMethod(this, &CheckRun::checkNextRow, Qt::QueuedConnection);
}

void CheckRun::stop()
{
    if (!m_running || m_stopping || m_ending)
        return;
    m_stopping = true;
    m_fetch.cancel();
    QMetaObject::invokeMethod(this, &CheckRun::endPass, Qt::QueuedConnection);
}

void CheckRun::checkNextRow()
{
    if (!m_running || m_stopping || m_ending)
        return;
    const int row = ++m_row;
    if (row >= m_rows) {
        endPass();
        return;
    }
    const QByteArray address = WatchList::siteAddress(m_list.cell(row, WatchList::UrlColumn));

    // The comparison value belongs to this row: a length that is missing (a new site) or not a
    // number counts as 0, never as a neighbour's length. Qt reads "nan" and "inf" as numbers;
    // no length is either.
    bool isNumber = false;
    double stored = m_list.cell(row, WatchList::LengthColumn).trimmed().toDouble(&isNumber);
    if (!isNumber || !std::isfinite(stored))
        stored = 0;

    m_host.checkingRow(row);
    m_fetch = m_fetcher.FetchPageText(
        address,
        [this, row, address, stored](std::optional<QByteArray> text) {
            pageFetched(row, address, stored, std::move(text));
        },
        [this](const SiteWait& wait) {
            if (wait.left.count() > 0)
                m_host.waitingForSite(wait);
            else
                m_host.showRunStatus(RunStatus::Running);
        });
}

void CheckRun::endPass()
{
    if (!m_running || m_ending)
        return;
    m_ending = true;
    m_fetcher.lookAhead({});
    // A list that another program changed meanwhile is taken first, and this run's results go
    // to its rows. A failed save ends the run as usual, and the status line says why.
    m_saved = saveWatchList(m_list, m_file);
    m_host.setBusyPointer(false);
    m_host.runSaved(m_saved, m_file.failure());
    QMetaObject::invokeMethod(this, &CheckRun::sayEnded, Qt::QueuedConnection);
}

void CheckRun::sayEnded()
{
    if (!m_ending)
        return;
    m_ending = false;
    m_running = false;
    if (m_stopping)
        Q_EMIT stopped();
    else
        Q_EMIT finished();
}

void CheckRun::pageFetched(int row, const QByteArray& address, double stored,
                           std::optional<QByteArray> text)
{
    // A page that comes back after a stop says nothing the user waits for.
    if (!m_running || m_stopping || m_ending)
        return;
    // A page that could not be read back is judged as an empty page, never as another row's.
    const double length = double(text.value_or(QByteArray()).size());

    // Cells are written where they are: the current cell and the selection are the user's.
    m_list.setCell(row, WatchList::LastVisitedColumn, m_now());
    // What the text did says nothing about the mark, which the length alone decides.
    const TextFinding found =
        length >= 1 && m_findings ? m_findings->look(address, *text, stored) : TextFinding();
    m_list.setCheckNote(
        row, QVariant::fromValue(CheckNote{length < 1 ? m_fetcher.failure() : FetchFailure(),
                                           stored, length, found}));
    ++m_progress.checked;
    if (length != stored) {
        ++(length < 1 ? m_progress.notFound : m_progress.changed);
        m_list.setCell(row, WatchList::UpdatedColumn, length < 1 ? "Not Found" : "Yes");
        m_list.setBold(row, WatchList::UpdatedColumn, true);
        // A one-character page is never stored, so it shows "Yes" on every run.
        if (length > 1)
            m_list.setCell(row, WatchList::LengthColumn, QByteArray::number(qint64(length)));
    } else {
        m_progress.errors += length < 1;
        m_list.setCell(row, WatchList::UpdatedColumn, length < 1 ? "Error" : "No");
        m_list.setBold(row, WatchList::UpdatedColumn, length < 1);
    }
    Q_EMIT rowChecked(row);
    QMetaObject::invokeMethod(this, &CheckRun::checkNextRow, Qt::QueuedConnection);
}
