#pragma once

#include <AnalysisWindow.h>
#include <BacklinkAnalysis.h>

#include <QWidget>

#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class ResultGrid;

// The program's only window: note strip, input row, result grid with the progress panel on
// top of it, and the tip line. Closing it ends the program.
class FormMain final : public QWidget, public AnalysisWindow {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QString &address)>;

    explicit FormMain(AnalysisSettings settings = {}, QWidget *parent = nullptr);
    ~FormMain() override;

    // Seams for tests: where links open, and the analysis settings (host, pauses, limits).
    void SetUrlOpener(UrlOpener opener) { openUrl_ = std::move(opener); }
    BacklinkAnalysis &Analysis() { return analysis_; }

    void ShowProgressPanel() override;
    void HideProgressPanel() override;
    void RepaintProgressPanel() override;
    void SetStatus(const QString &text) override;
    void SetTipLine(const QString &text) override;
    void RepaintTipLine() override;
    QString GetDomainText() const override;
    void SetDomainText(const QString &text) override;
    void ProcessPendingEvents() override;
    bool WindowClosed() const override { return closed_; }
    ResultGridOps &Grid() override;
    QString &PageSource() override { return pageSource_; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildControls();
    void WireEvents();
    void Load();
    void OpenCurrentRow();

    QFrame *Frame1 = nullptr;
    QFrame *Frame2 = nullptr;
    QFrame *Frame3 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    ResultGrid *FlexGrid = nullptr;

    QString pageSource_;
    bool closed_ = false;
    bool centred_ = false;
    UrlOpener openUrl_;
    BacklinkAnalysis analysis_;
};
