#pragma once

#include <PageRendering.h>

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QRadioButton;

namespace vantorel {

// 历史记录位置: the file on this machine or a PostgreSQL server, kept with QSettings.
struct HistoryLocationSetting {
    bool onServer = false;
    QString file;    // empty: the default file
    QString address; // postgresql://…

    // The location the store takes.
    QString Location() const;
};

HistoryLocationSetting LoadHistoryLocation();
void SaveHistoryLocation(const HistoryLocationSetting &setting);

// 渲染脚本生成的网页: when pages get a second look in the browser, kept with QSettings beside it.
RenderMode LoadRenderMode();
void SaveRenderMode(RenderMode mode);
// 检查外链指向的本站网页: whether a run asks each page its links point to how it answers.
bool LoadTargetChecks();
void SaveTargetChecks(bool check);

// The dialog that changes the setting. Opened with open(); Chosen() once it is accepted, which it
// is only with a location the store can take.
class HistoryLocationDialog final : public QDialog {
    Q_OBJECT

public:
    HistoryLocationDialog(const HistoryLocationSetting &setting, QWidget *parent = nullptr);

    HistoryLocationSetting Chosen() const;
    void accept() override;

private:
    QRadioButton *fileButton_ = nullptr;
    QRadioButton *serverButton_ = nullptr;
    QLineEdit *fileEdit_ = nullptr;
    QLineEdit *addressEdit_ = nullptr;
    QLabel *problem_ = nullptr;
    QLabel *testResult_ = nullptr;
    int tests_ = 0; // the latest test's answer replaces an earlier one's

    void BrowseFile();
    // Connects to the server typed in, on a pool thread, and says how that went.
    void TestConnection();
};

} // namespace vantorel
