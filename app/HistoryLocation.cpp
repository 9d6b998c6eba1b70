#include "HistoryLocation.h"

#include <HistoryDatabase.h>
#include <ServerAddress.h>

#include "Background.h"

#include <QAtomicInteger>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QVBoxLayout>

namespace vantorel {

namespace {

// ~/.config/vantorel/vantorel.conf. The organisation stays unset in the application object,
// where it would move the data folder and with it the default history file.
QSettings Settings()
{
    return QSettings(QStringLiteral("vantorel"), QStringLiteral("vantorel"));
}

const QString kOnServer = QStringLiteral("history/onServer");
const QString kFile = QStringLiteral("history/file");
const QString kAddress = QStringLiteral("history/address");
const QString kRenderMode = QStringLiteral("render/mode");
const QString kTargetChecks = QStringLiteral("targets/check");

const QString kServerPrefixWanted = QStringLiteral("PostgreSQL 服务器的地址应以 postgresql:// 开头");

// An edit with a button after it, on one line.
QWidget *WithButton(QWidget *parent, QLineEdit *edit, QPushButton *button)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    layout->addWidget(button);
    return row;
}

// Why the server at address cannot be reached, or an empty text; on the calling thread, with a
// connection of its own made and removed there.
QString TryConnecting(const QString &address)
{
    static QAtomicInteger<quint64> tries;
    const QString name = QStringLiteral("vantorel-location-test-%1").arg(++tries);
    QString reason = ConnectHistory(name, address);
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
    return reason;
}

} // namespace

QString HistoryLocationSetting::Location() const
{
    if (onServer)
        return address;
    return file.isEmpty() ? DefaultHistoryPath() : file;
}

HistoryLocationSetting LoadHistoryLocation()
{
    const QSettings settings = Settings();
    return {settings.value(kOnServer, false).toBool(), settings.value(kFile).toString(),
            settings.value(kAddress).toString()};
}

RenderMode LoadRenderMode()
{
    return RenderModeNamed(Settings().value(kRenderMode).toString()).value_or(RenderMode::Auto);
}

void SaveRenderMode(RenderMode mode)
{
    Settings().setValue(kRenderMode, RenderModeName(mode));
}

bool LoadTargetChecks()
{
    return Settings().value(kTargetChecks, true).toBool();
}

void SaveTargetChecks(bool check)
{
    Settings().setValue(kTargetChecks, check);
}

void SaveHistoryLocation(const HistoryLocationSetting &setting)
{
    QSettings settings = Settings();
    settings.setValue(kOnServer, setting.onServer);
    settings.setValue(kFile, setting.file);
    settings.setValue(kAddress, setting.address);
}

HistoryLocationDialog::HistoryLocationDialog(const HistoryLocationSetting &setting, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HistoryLocationDialog"));
    setWindowTitle(QStringLiteral("历史记录位置"));
    auto *layout = new QVBoxLayout(this);
    fileButton_ = new QRadioButton(QStringLiteral("本机文件"), this);
    fileEdit_ = new QLineEdit(setting.file, this);
    fileEdit_->setPlaceholderText(DefaultHistoryPath());
    serverButton_ = new QRadioButton(QStringLiteral("PostgreSQL 服务器"), this);
    addressEdit_ = new QLineEdit(setting.address, this);
    addressEdit_->setPlaceholderText(QStringLiteral("postgresql://用户@主机:5432/数据库"));
    auto *browse = new QPushButton(QStringLiteral("浏览..."), this);
    browse->setObjectName(QStringLiteral("browse"));
    auto *test = new QPushButton(QStringLiteral("测试连接"), this);
    test->setObjectName(QStringLiteral("testConnection"));
    auto *note = new QLabel(QStringLiteral("一个团队可以共用一个 PostgreSQL 数据库：每人的窗口和各台机器上的复查都指向它。"
                                           "密码请放在 ~/.pgpass 或环境变量 PGPASSWORD 里，不要写在地址中。"),
                            this);
    note->setWordWrap(true);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setStyleSheet(QStringLiteral("color: #b00020"));
    problem_->setWordWrap(true);
    problem_->hide();
    testResult_ = new QLabel(this);
    testResult_->setObjectName(QStringLiteral("testResult"));
    testResult_->setWordWrap(true);
    testResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    testResult_->hide();
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    for (QWidget *widget : std::initializer_list<QWidget *>{fileButton_, WithButton(this, fileEdit_, browse), serverButton_,
                                                            WithButton(this, addressEdit_, test), testResult_, note,
                                                            problem_, buttons})
        layout->addWidget(widget);
    (setting.onServer ? serverButton_ : fileButton_)->setChecked(true);
    const auto enable = [this, browse, test] {
        fileEdit_->setEnabled(fileButton_->isChecked());
        browse->setEnabled(fileButton_->isChecked());
        addressEdit_->setEnabled(serverButton_->isChecked());
        test->setEnabled(serverButton_->isChecked());
    };
    enable();
    connect(fileButton_, &QRadioButton::toggled, this, enable);
    connect(browse, &QPushButton::clicked, this, &HistoryLocationDialog::BrowseFile);
    connect(test, &QPushButton::clicked, this, &HistoryLocationDialog::TestConnection);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistoryLocationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HistoryLocationDialog::reject);
    resize(560, sizeHint().height());
}

void HistoryLocationDialog::BrowseFile()
{
    const QString current = fileEdit_->text().trimmed().isEmpty() ? DefaultHistoryPath() : fileEdit_->text().trimmed();
    auto *dialog = new QFileDialog(this, QStringLiteral("选择历史记录文件"), current,
                                   QStringLiteral("历史记录 (*.sqlite3 *.sqlite *.db);;所有文件 (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // A new file is made at the first run: one that does not exist yet may be named.
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &path) { fileEdit_->setText(path); });
    dialog->open();
}

void HistoryLocationDialog::TestConnection()
{
    const QString address = addressEdit_->text().trimmed();
    testResult_->show();
    if (!IsServerLocation(address)) {
        testResult_->setText(kServerPrefixWanted);
        return;
    }
    testResult_->setText(QStringLiteral("正在连接..."));
    ReadIfCurrent(this, nullptr, tests_, [address] { return TryConnecting(address); }, [this](const QString &reason) {
        testResult_->setText(reason.isEmpty() ? QStringLiteral("连接成功") : reason);
    });
}

HistoryLocationSetting HistoryLocationDialog::Chosen() const
{
    return {serverButton_->isChecked(), fileEdit_->text().trimmed(), addressEdit_->text().trimmed()};
}

void HistoryLocationDialog::accept()
{
    const HistoryLocationSetting chosen = Chosen();
    QString problem;
    if (chosen.onServer && !IsServerLocation(chosen.address))
        problem = kServerPrefixWanted;
    else if (chosen.onServer)
        problem = LocationError(chosen.address);
    else if (IsServerLocation(chosen.file))
        problem = QStringLiteral("这是 PostgreSQL 服务器的地址，请选择“PostgreSQL 服务器”");
    problem_->setText(problem);
    problem_->setVisible(!problem.isEmpty());
    if (problem.isEmpty())
        QDialog::accept();
}

} // namespace vantorel
