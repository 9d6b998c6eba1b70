#pragma once

#include <QDialog>

#include <functional>

class QPlainTextEdit;

namespace vantorel {

// "依据": what is known of one row, as plain text the user can select and copy, with a button
// that opens the row's page. Non-modal; it keeps its own copy of the text and the address, so
// that a run that replaces the rows leaves it as it was.
class EvidenceDialog final : public QDialog {
    Q_OBJECT

public:
    EvidenceDialog(std::function<void(const QString &address)> openUrl, QWidget *parent = nullptr);

    void ShowEvidence(const QString &text, const QString &address);

private:
    void CopyText();

    std::function<void(const QString &)> openUrl_;
    QPlainTextEdit *text_ = nullptr;
    QString address_;
};

} // namespace vantorel
