#pragma once

#include <AddressList.h>
#include <ResultExport.h>

#include <QFileDevice>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QWidget;

namespace vantorel {

class BacklinkAnalysis;
class EvidenceDialog;
class ResultGrid;

// A warning box whose text is shown as plain text and cut to fit any screen.
void TellUser(QWidget *parent, const QString &message);
// A window-modal yes-or-no question, "No" by default; yes is called when the user says yes.
void AskUser(QWidget *parent, const QString &title, const QString &question, std::function<void()> yes);

// A path the user chooses in a window-modal file dialog, handed to chosen; nothing when cancelled.
using PathChosen = std::function<void(const QString &path)>;
// Where to save a CSV file.
void AskCsvSavePath(QWidget *parent, const QString &suggestedPath, PathChosen chosen);
// Writes the file whole, or leaves what was there; why it could not, in Chinese, or empty.
// permissions: the file's own, when given; else those of the file it replaces.
QString SaveWhole(const QString &path, const QByteArray &bytes, std::optional<QFileDevice::Permissions> permissions = {});

// The questions the grid's actions ask the user; tests answer them instead.
struct GridDialogs {
    std::function<void(const QString &suggestedPath, PathChosen chosen)> askSavePath;
    std::function<void(PathChosen chosen)> askOpenPath;
    std::function<void(const QString &message)> tell;
    // A yes-or-no question; yes is called when the user says yes.
    std::function<void(const QString &question, std::function<void()> yes)> ask;
    // Where to save a disavow file.
    std::function<void(const QString &suggestedPath, PathChosen chosen)> askDisavowPath;
};

// What the grid's menu offers on the history: "历史记录...", "复查已知外链", "不再复查此地址" and
// "外链约定..." on a row (its address, and its first link when it has one), "历史记录位置...".
struct HistoryActions {
    std::function<void()> openHistory, recheck;
    std::function<void(const QString &address)> forget;
    std::function<void(const QString &address, const std::optional<LinkEvidence> &firstLink)> agree;
    std::function<void()> chooseLocation;
};

// What the results grid offers besides showing them: copy, CSV export, a row's evidence, and
// checking a list of addresses from a file or the clipboard, through its context menu and keys.
class GridActions final : public QObject {
    Q_OBJECT

public:
    GridActions(ResultGrid &grid, BacklinkAnalysis &analysis, std::function<QString()> domain,
                std::function<void(const QString &address)> openUrl, QWidget *dialogParent);

    void SetDialogs(GridDialogs dialogs) { dialogs_ = std::move(dialogs); }

    void Copy(bool withEvidence);
    void CopyAll();
    // "查看依据...": the row's evidence in a dialog of its own, which shows the next row asked for.
    void ShowEvidence(int row);
    void ExportCsv();
    // "导出拒绝链接文件...": the selected rows' addresses in the search console's format, saved
    // as a file only its user reads; a file the console would refuse is not saved, and why is told.
    void ExportDisavow();
    void ImportList();
    void PasteAndCheck();
    void SetHistoryActions(HistoryActions actions) { history_ = std::move(actions); }
    // Called with what an export said of its pages before they are checked.
    void SetExportKeeper(std::function<void(const QString &domain, const std::vector<ExportedPage> &pages)> keep)
    {
        keepExported_ = std::move(keep);
    }
    // True, and the status line says why, while a run goes on.
    bool RefusedDuringRun();

    // The context menu for a point of the grid's viewport, its actions enabled as they apply.
    std::unique_ptr<QMenu> Menu(const QPoint &at);

signals:
    // Why an action cannot run now, for the status line.
    void StatusNote(const QString &note);
    // What a list to check gave: which column of which export, how many addresses.
    void ListRead(const QString &summary);
    // The user chose to check an export's own site instead of the domain typed.
    void DomainChosen(const QString &domain);

private:
    // The run's rows while the grid lists them (none before the first run), and those selected.
    const std::vector<ResultRow> &AllRows() const;
    std::vector<ResultRow> SelectedRows() const;
    struct ReadOutcome {
        AddressList list;
        QString failure; // why the file could not be read
    };
    // Reads for the domain typed, on a pool thread, then checks what was read unless a newer
    // list or a run came first.
    using ListReading = std::function<ReadOutcome(const QString &site)>;
    void ReadThenCheck(ListReading read);
    // An export of another site's backlinks offers to check that site instead, reading it again.
    void CheckList(const AddressList &list, const ListReading &read);
    void ShowEvidence(const QString &text, const QString &url);
    void ShowMenu(const QPoint &at);

    ResultGrid &grid_;
    BacklinkAnalysis &analysis_;
    std::function<QString()> domain_;
    std::function<void(const QString &)> openUrl_;
    GridDialogs dialogs_;
    HistoryActions history_;
    std::function<void(const QString &, const std::vector<ExportedPage> &)> keepExported_;
    int listsRead_ = 0; // only the latest list read is checked
    QPointer<EvidenceDialog> evidenceDialog_;
};

} // namespace vantorel
