#include "HistoryLocation.h"

#include <HistoryDatabase.h>
#include <ServerAddress.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
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
    auto *note = new QLabel(QStringLiteral("一个团队可以共用一个 PostgreSQL 数据库：每人的窗口和各台机器上的复查都指向它。"
                                           "密码可以写在地址中，也可以放在 ~/.pgpass 里。"),
                            this);
    note->setWordWrap(true);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setStyleSheet(QStringLiteral("color: #b00020"));
    problem_->setWordWrap(true);
    problem_->hide();
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    for (QWidget *widget : std::initializer_list<QWidget *>{fileButton_, fileEdit_, serverButton_, addressEdit_, note,
                                                            problem_, buttons})
        layout->addWidget(widget);
    (setting.onServer ? serverButton_ : fileButton_)->setChecked(true);
    const auto enable = [this] {
        fileEdit_->setEnabled(fileButton_->isChecked());
        addressEdit_->setEnabled(serverButton_->isChecked());
    };
    enable();
    connect(fileButton_, &QRadioButton::toggled, this, enable);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistoryLocationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HistoryLocationDialog::reject);
    resize(560, sizeHint().height());
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
        problem = QStringLiteral("PostgreSQL 服务器的地址应以 postgresql:// 开头");
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
