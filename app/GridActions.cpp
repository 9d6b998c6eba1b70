#include "GridActions.h"

#include "Background.h"
#include "EvidenceDialog.h"
#include "HistoryLocation.h"
#include "ResultGrid.h"
#include "ResultModel.h"

#include <BacklinkAnalysis.h>
#include <Disavow.h>
#include <Domain.h>
#include <PlainText.h>

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QActionGroup>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QMimeData>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace vantorel {

void TellUser(QWidget *parent, const QString &message)
{
    // Names of files and lines of lists are outside text: never markup, never taller than the screen.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vantorel"), QString(), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    // Room for the title bar and the frame, which the box's own size hint leaves out.
    const QSize room = screen->availableGeometry().size() - QSize(40, 80);
    for (int lines = 20; lines > 0; lines /= 2) {
        box->setText(FittedMessage(message, lines));
        if (box->sizeHint().height() <= room.height() && box->sizeHint().width() <= room.width())
            break;
    }
    box->open(); // window-modal, without an event loop of its own
}

void AskUser(QWidget *parent, const QString &title, const QString &question, std::function<void()> yes)
{
    auto *box = new QMessageBox(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::No);
    QObject::connect(box, &QMessageBox::finished, box, [box, yes = std::move(yes)] {
        if (box->clickedButton() == box->button(QMessageBox::Yes))
            yes();
    });
    box->open();
}

namespace {

void AskPath(QWidget *parent, const QString &caption, const QString &start, const QString &filter,
             QFileDialog::AcceptMode mode, PathChosen chosen)
{
    auto *dialog = new QFileDialog(parent, caption, start, filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(mode);
    if (mode == QFileDialog::AcceptSave)
        dialog->setDefaultSuffix(QFileInfo(start).suffix());
    else
        dialog->setFileMode(QFileDialog::ExistingFile);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, std::move(chosen));
    dialog->open();
}

} // namespace

void AskCsvSavePath(QWidget *parent, const QString &suggestedPath, PathChosen chosen)
{
    AskPath(parent, QStringLiteral("导出为 CSV"), suggestedPath, QStringLiteral("CSV 文件 (*.csv)"),
            QFileDialog::AcceptSave, std::move(chosen));
}

QString SaveWhole(const QString &path, const QByteArray &bytes, std::optional<QFileDevice::Permissions> permissions)
{
    // A file that existed stays whole unless the new one is written completely.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || (permissions && !file.setPermissions(*permissions)) ||
        file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("无法保存 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString());
    return {};
}

namespace {

GridDialogs StandardDialogs(QWidget *parent)
{
    return {
        [parent](const QString &suggested, PathChosen chosen) { AskCsvSavePath(parent, suggested, std::move(chosen)); },
        [parent](PathChosen chosen) {
            AskPath(parent, QStringLiteral("导入地址列表"), QString(), QStringLiteral("文本文件 (*.txt *.csv);;所有文件 (*)"),
                    QFileDialog::AcceptOpen, std::move(chosen));
        },
        [parent](const QString &message) { TellUser(parent, message); },
        [parent](const QString &question, std::function<void()> yes) {
            AskUser(parent, QStringLiteral("Vantorel"), question, std::move(yes));
        },
        [parent](const QString &suggested, PathChosen chosen) {
            AskPath(parent, QStringLiteral("导出拒绝链接文件"), suggested, QStringLiteral("文本文件 (*.txt)"),
                    QFileDialog::AcceptSave, std::move(chosen));
        },
    };
}

} // namespace

GridActions::GridActions(ResultGrid &grid, BacklinkAnalysis &analysis, std::function<QString()> domain,
                         std::function<void(const QString &)> openUrl, QWidget *dialogParent)
    : QObject(&grid), grid_(grid), analysis_(analysis), domain_(std::move(domain)), openUrl_(std::move(openUrl)),
      dialogs_(StandardDialogs(dialogParent))
{
    grid_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&grid_, &QWidget::customContextMenuRequested, this, &GridActions::ShowMenu);
    connect(&grid_, &ResultGrid::CopyRequested, this, &GridActions::Copy);
    connect(&grid_, &ResultGrid::PasteRequested, this, &GridActions::PasteAndCheck);
    connect(&grid_, &ResultGrid::EvidenceRequested, this, qOverload<int>(&GridActions::ShowEvidence));
}

const std::vector<ResultRow> &GridActions::AllRows() const
{
    static const std::vector<ResultRow> none;
    const std::vector<ResultRow> &all = analysis_.Rows();
    return grid_.Model().rowCount() == static_cast<int>(all.size()) ? all : none;
}

std::vector<ResultRow> GridActions::SelectedRows() const
{
    std::vector<ResultRow> rows;
    for (const int row : grid_.SelectedRows())
        if (const ResultRow *listed = grid_.Model().Row(row))
            rows.push_back(*listed);
    return rows;
}

namespace {

void PutOnClipboard(const std::vector<ResultRow> &rows, bool withEvidence)
{
    auto *data = new QMimeData;
    data->setText(RowsAsText(rows, withEvidence, FormulaGuard::Guarded));
    data->setHtml(RowsAsHtml(rows, withEvidence));
    QApplication::clipboard()->setMimeData(data);
}

} // namespace

void GridActions::Copy(bool withEvidence)
{
    if (const std::vector<ResultRow> rows = SelectedRows(); !rows.empty())
        PutOnClipboard(rows, withEvidence);
}

void GridActions::CopyAll()
{
    PutOnClipboard(AllRows(), false);
}

void GridActions::ShowEvidence(int row)
{
    if (const QString text = grid_.Model().EvidenceText(row); !text.isEmpty())
        ShowEvidence(text, grid_.Model().Row(row)->url);
}

void GridActions::ShowEvidence(const QString &text, const QString &url)
{
    if (!evidenceDialog_) {
        evidenceDialog_ = new EvidenceDialog(openUrl_, grid_.window());
        evidenceDialog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    evidenceDialog_->ShowEvidence(text, url);
    evidenceDialog_->show();
    evidenceDialog_->raise();
    evidenceDialog_->activateWindow();
}

void GridActions::ExportCsv()
{
    const QString domain = ReduceToHost(domain_());
    const QString name = QStringLiteral("vantorel-%1%2.csv")
                             .arg(domain.isEmpty() ? QString() : domain + u'-')
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
    // The rows as they are when asked: a run may go on while the dialog is open.
    dialogs_.askSavePath(QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(name),
                         [this, csv = RowsAsCsv(AllRows(), true)](const QString &path) {
                             if (const QString failure = SaveWhole(path, csv); !failure.isEmpty())
                                 dialogs_.tell(failure);
                         });
}

void GridActions::ExportDisavow()
{
    QStringList addresses;
    for (const ResultRow &row : SelectedRows())
        addresses << row.url;
    const QString domain = ReduceToHost(domain_());
    const DisavowFile file = MakeDisavowFile(SiteShown(SiteKey(domain)), addresses, QDateTime::currentDateTime());
    if (!file.refusal.isEmpty())
        return dialogs_.tell(QStringLiteral("无法生成拒绝链接文件：") + file.refusal);
    const QString name = QStringLiteral("disavow-%1.txt").arg(domain.isEmpty() ? QStringLiteral("links") : domain);
    dialogs_.askDisavowPath(QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(name),
                            [this, text = file.text](const QString &path) {
                                if (const QString failure = SaveWhole(path, text, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
                                    !failure.isEmpty())
                                    dialogs_.tell(failure);
                            });
}

void GridActions::ImportList()
{
    if (RefusedDuringRun())
        return;
    dialogs_.askOpenPath([this](const QString &path) {
        if (RefusedDuringRun()) // a run started while the dialog was open
            return;
        ReadThenCheck([path](const QString &site) -> ReadOutcome {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return {{}, QStringLiteral("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString())};
            AddressList list = ReadAddressList(file, site);
            list.source = QDir::toNativeSeparators(path);
            return {std::move(list), {}};
        });
    });
}

void GridActions::PasteAndCheck()
{
    if (!RefusedDuringRun())
        ReadThenCheck([text = QApplication::clipboard()->text()](const QString &site) -> ReadOutcome {
            return {ReadAddressList(text, site), {}};
        });
}

void GridActions::ReadThenCheck(ListReading read)
{
    emit StatusNote(QStringLiteral("正在读取地址列表..."));
    ReadIfCurrent(
        this, nullptr, listsRead_, [read, site = domain_()] { return read(site); },
        [this, read](const ReadOutcome &outcome) {
            if (RefusedDuringRun())
                return;
            if (outcome.failure.isEmpty())
                CheckList(outcome.list, read);
            else
                dialogs_.tell(outcome.failure);
        });
}

bool GridActions::RefusedDuringRun()
{
    if (!analysis_.Running())
        return false;
    emit StatusNote(QStringLiteral("正在检测，请先按 Esc 或“停  止”结束当前检测..."));
    return true;
}

void GridActions::CheckList(const AddressList &list, const ListReading &read)
{
    if (const QString summary = AddressListSummary(list); !summary.isEmpty())
        emit ListRead(summary);
    if (!list.targetSite.isEmpty()) {
        const QString site = SiteShown(list.targetSite);
        dialogs_.ask(AddressListNotes(list).join(u'\n') + QStringLiteral("。\n改为检测 %1 吗？").arg(site),
                     [this, site, read] {
                         if (RefusedDuringRun())
                             return;
                         emit DomainChosen(site);
                         ReadThenCheck(read);
                     });
        return;
    }
    if (const QStringList notes = AddressListNotes(list); !notes.isEmpty())
        dialogs_.tell(notes.join(u'\n'));
    if (list.addresses.isEmpty())
        return;
    if (keepExported_)
        keepExported_(domain_(), list.exported);
    analysis_.CheckAddresses(list.addresses, domain_());
}

void GridActions::ShowMenu(const QPoint &at)
{
    // Shown without a loop of its own: a run goes on while the menu is open.
    QMenu *menu = Menu(at).release();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(grid_.viewport()->mapToGlobal(at));
}

std::unique_ptr<QMenu> GridActions::Menu(const QPoint &at)
{
    const bool hasRows = !AllRows().empty();
    const bool running = analysis_.Running();
    const int row = grid_.RowAt(at);
    const ResultRow *listed = grid_.Model().Row(row);

    auto menu = std::make_unique<QMenu>(&grid_);
    const QString url = listed ? listed->url : QString();
    QAction *open = menu->addAction(QStringLiteral("打开链接"), this, [this, url] { openUrl_(url); });
    open->setEnabled(listed && !listed->address.trimmed().isEmpty());
    // What the row holds now: a run may replace the rows while the menu is open.
    const QString evidence = grid_.Model().EvidenceText(row);
    menu->addAction(QStringLiteral("查看依据..."), this, [this, evidence, url] { ShowEvidence(evidence, url); })
        ->setEnabled(!evidence.isEmpty());
    QAction *copy = menu->addAction(QStringLiteral("复制"), this, [this] { Copy(false); });
    copy->setShortcut(QKeySequence::Copy);
    // The grid selects whole rows: every one a listed row once a run lists them.
    copy->setEnabled(hasRows && grid_.selectionModel()->hasSelection());
    menu->addAction(QStringLiteral("复制全部"), this, &GridActions::CopyAll)->setEnabled(hasRows);
    menu->addSeparator();
    menu->addAction(QStringLiteral("导出为 CSV..."), this, &GridActions::ExportCsv)->setEnabled(hasRows);
    menu->addAction(QStringLiteral("导出拒绝链接文件..."), this, &GridActions::ExportDisavow)
        ->setEnabled(hasRows && grid_.selectionModel()->hasSelection());
    std::vector<int> unreachable;
    for (int index = 0; index < static_cast<int>(analysis_.Rows().size()); ++index)
        if (const auto &evidence = analysis_.Rows()[static_cast<std::size_t>(index)].evidence;
            evidence && Strength(*evidence) == VerdictStrength::Unreachable)
            unreachable.push_back(index);
    menu->addAction(QStringLiteral("重新检测未能检测的行"), this, [this, unreachable] { analysis_.RecheckRows(unreachable); })
        ->setEnabled(!running && !unreachable.empty() && hasRows);
    menu->addAction(QStringLiteral("导入地址列表..."), this, &GridActions::ImportList)->setEnabled(!running);
    QAction *paste = menu->addAction(QStringLiteral("粘贴地址并检测"), this, &GridActions::PasteAndCheck);
    paste->setShortcut(QKeySequence::Paste);
    paste->setEnabled(!running);
    QMenu *rendering = menu->addMenu(QStringLiteral("渲染脚本生成的网页"));
    auto *modes = new QActionGroup(rendering);
    for (const auto &[mode, name] : {std::pair{RenderMode::Auto, u"自动（没有找到链接、像是由脚本生成的网页）"},
                                     std::pair{RenderMode::Never, u"从不"},
                                     std::pair{RenderMode::Always, u"总是（没有找到链接的网页）"}}) {
        QAction *choice = rendering->addAction(QString::fromUtf16(name), this, [this, mode] {
            analysis_.Settings().render = mode;
            SaveRenderMode(mode);
        });
        choice->setCheckable(true);
        choice->setChecked(analysis_.Settings().render == mode);
        modes->addAction(choice);
    }
    QAction *targets = menu->addAction(QStringLiteral("检查外链指向的本站网页"), this, [this](bool checked) {
        analysis_.Settings().checkTargets = checked;
        SaveTargetChecks(checked);
    });
    targets->setCheckable(true);
    targets->setChecked(analysis_.Settings().checkTargets);
    if (history_.openHistory) {
        menu->addSeparator();
        QAction *history = menu->addAction(QStringLiteral("历史记录..."), this, [this] { history_.openHistory(); });
        history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
        menu->addAction(QStringLiteral("复查已知外链"), this, [this] { history_.recheck(); })->setEnabled(!running);
        menu->addAction(QStringLiteral("不再复查此地址"), this, [this, url] { history_.forget(url); })->setEnabled(!url.isEmpty());
        std::optional<LinkEvidence> firstLink;
        if (listed && listed->evidence && !listed->evidence->page.links.empty())
            firstLink = listed->evidence->page.links.front();
        menu->addAction(QStringLiteral("外链约定..."), this, [this, url, firstLink] { history_.agree(url, firstLink); })
            ->setEnabled(!url.isEmpty());
        menu->addAction(QStringLiteral("历史记录位置..."), this, [this] { history_.chooseLocation(); })->setEnabled(!running);
    }
    return menu;
}

} // namespace vantorel
