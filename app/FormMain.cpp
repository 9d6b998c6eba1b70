#include "FormMain.h"

#include "ResultGrid.h"
#include "SkinH.h"

#include <TextOps.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

#include <limits>

namespace {

const QString kMakerDomain = QStringLiteral("www.quillmere.com");
const QString kForumHome = QStringLiteral("http://bbs.quillmere.com/");
const QString kForumInstructions = QStringLiteral("http://bbs.quillmere.com/read.php?tid=5370");
const QString kForumLatestVersion = QStringLiteral("http://bbs.quillmere.com/thread.php?fid=2");

const QString kCaption =
    QStringLiteral("Vantorel  Ver 1.5   -Quillmere（") + kMakerDomain + QStringLiteral("）出品  ");
const QString kNoteText = QStringLiteral(
    "说明：网站外链的质量和数量直接影响到你网站的收录和权重，因此外链地址的有效性变得非常重要，"
    "此版本只分析前50条地址。");
const QString kTipText = QStringLiteral(
    "提示：以上表格中的网站可能含有你网站的链接，这对你网站的宣传和百度收录、以及增加网站权重将起到"
    "积极的作用。");
const QString kInitialStatus = QStringLiteral("正在执行你的请求...");

constexpr int kInitialGridRows = 17; // header plus 16 empty rows

// Positions and sizes are kept in twips (1/1440 inch), 15 to a pixel at 96 dpi. Labels have
// only a position: they take the size of their text.
struct TwipRect {
    int left, top, width, height;
};
struct TwipPoint {
    int left, top;
};
constexpr TwipRect kClientArea{0, 0, 10860, 6570};
constexpr TwipRect kFrame1{0, 0, 10815, 855};
constexpr TwipRect kFrame2{0, 840, 10815, 5655};
constexpr TwipPoint kLabel3{240, 360};
constexpr TwipPoint kLabel1{120, 360};
constexpr TwipRect kText1{1200, 240, 2895, 375};
constexpr TwipRect kCommand1{4320, 240, 1095, 375};
constexpr TwipRect kCommand4{5520, 240, 1095, 375};
constexpr TwipRect kCommand5{6720, 240, 1095, 375};
constexpr TwipRect kCommand3{7920, 240, 975, 375};
constexpr TwipRect kCommand2{9000, 240, 975, 375};
constexpr TwipRect kFlexGrid{120, 840, 10455, 4095};
constexpr TwipPoint kLabel4{120, 5160};
constexpr TwipRect kFrame3{3840, 1560, 2655, 615};
constexpr TwipPoint kLabel2{240, 240};

// Where SimSun is missing, a CJK font whose Latin letters and spaces are half as wide as a
// Chinese character comes first, since the grid's column widths come from space-padded captions.
QFont WindowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    return font;
}

// More characters than any label's container can show, even in the narrowest glyphs. A page
// can put megabytes of text into the tip line; laying all of it out would freeze the window.
constexpr qsizetype kMaxShownLabelChars = 1024;

// Labels size themselves to their text, one line high, top-left corner fixed.
void SetLabelText(QLabel *label, const QString &text)
{
    label->setText(text.size() > kMaxShownLabelChars ? text.left(kMaxShownLabelChars) : text);
    const QString &shown = label->text();
    const QFontMetrics metrics(label->font());
    label->resize(metrics.horizontalAdvance(shown), metrics.height());
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText); // page text is never markup
    label->setWordWrap(false);
    SetLabelText(label, text);
    return label;
}

QFrame *MakeFrame(QWidget *parent, const char *name)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    return frame;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

FormMain::FormMain(AnalysisSettings settings, QWidget *parent)
    : QWidget(parent),
      openUrl_([](const QString &address) { QDesktopServices::openUrl(QUrl(address)); }),
      analysis_(*this, std::move(settings))
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(kCaption);
    Q_INIT_RESOURCE(vantorel); // the resources live in a static library
    setWindowIcon(QIcon(QStringLiteral(":/vantorel.png")));
    setFont(WindowFont());
    BuildControls();
    WireEvents();
    Load();
}

FormMain::~FormMain() = default;

void FormMain::BuildControls()
{
    const double pixelsPerTwip = logicalDpiX() / 1440.0;
    auto pixels = [pixelsPerTwip](int twips) { return qRound(twips * pixelsPerTwip); };
    auto place = [pixels](QWidget *widget, const TwipRect &rect) {
        widget->setGeometry(pixels(rect.left), pixels(rect.top), pixels(rect.width), pixels(rect.height));
    };
    auto placeLabel = [pixels](QLabel *label, const TwipPoint &at) {
        label->move(pixels(at.left), pixels(at.top));
    };
    setFixedSize(pixels(kClientArea.width), pixels(kClientArea.height));

    Frame1 = MakeFrame(this, "Frame1");
    place(Frame1, kFrame1);
    Label3 = MakeLabel(Frame1, "Label3", kNoteText);
    placeLabel(Label3, kLabel3);

    Frame2 = MakeFrame(this, "Frame2");
    place(Frame2, kFrame2);
    Label1 = MakeLabel(Frame2, "Label1", QStringLiteral("输入网址："));
    placeLabel(Label1, kLabel1);

    Text1 = new QLineEdit(kMakerDomain, Frame2);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setMaxLength(std::numeric_limits<int>::max());
    place(Text1, kText1);

    Command1 = MakeButton(Frame2, "Command1", QStringLiteral("分  析"));
    place(Command1, kCommand1);
    Command4 = MakeButton(Frame2, "Command4", QStringLiteral("操作说明"));
    place(Command4, kCommand4);
    Command5 = MakeButton(Frame2, "Command5", QStringLiteral("最新版本"));
    place(Command5, kCommand5);
    Command3 = MakeButton(Frame2, "Command3", QStringLiteral("访问论坛"));
    place(Command3, kCommand3);
    Command2 = MakeButton(Frame2, "Command2", QStringLiteral("退 出"));
    place(Command2, kCommand2);

    FlexGrid = new ResultGrid(Frame2);
    FlexGrid->setObjectName(QStringLiteral("FlexGrid"));
    place(FlexGrid, kFlexGrid);

    Label4 = MakeLabel(Frame2, "Label4", kTipText);
    placeLabel(Label4, kLabel4);

    // The progress panel lies on top of the grid's cells.
    Frame3 = MakeFrame(FlexGrid, "Frame3");
    Frame3->setAutoFillBackground(true);
    place(Frame3, kFrame3);
    Label2 = MakeLabel(Frame3, "Label2", kInitialStatus);
    placeLabel(Label2, kLabel2);
    QPalette statusPalette = Label2->palette();
    statusPalette.setColor(QPalette::WindowText, QColor(192, 0, 0));
    Label2->setPalette(statusPalette);

    for (QWidget *unfocusable : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Frame2),
                                 static_cast<QWidget *>(Frame3)})
        unfocusable->setFocusPolicy(Qt::NoFocus);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, FlexGrid);
    setTabOrder(FlexGrid, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command5);
    Text1->setFocus();
}

void FormMain::WireEvents()
{
    connect(Command1, &QPushButton::clicked, this, [this] { analysis_.RunAnalysis(); });
    connect(Text1, &QLineEdit::returnPressed, this, [this] {
        Command1->setFocus();
        analysis_.RunAnalysis();
    });
    connect(Command2, &QPushButton::clicked, this, &QWidget::close);
    connect(Command3, &QPushButton::clicked, this, [this] { openUrl_(kForumHome); });
    connect(Command4, &QPushButton::clicked, this, [this] { openUrl_(kForumInstructions); });
    connect(Command5, &QPushButton::clicked, this, [this] { openUrl_(kForumLatestVersion); });
    connect(FlexGrid, &ResultGrid::RowActivated, this, &FormMain::OpenCurrentRow);
    Frame3->installEventFilter(this);
    Label2->installEventFilter(this);
}

void FormMain::Load()
{
    SkinH_Attach();
    HideProgressPanel();
    FlexGrid->ClearGrid();
    FlexGrid->SetRowCount(kInitialGridRows);
    FlexGrid->SetHeaderFormat(kResultGridHeader);
}

void FormMain::OpenCurrentRow()
{
    // No current row reads as nothing; an empty address still opens "http://".
    const std::optional<QString> address = FlexGrid->GetCellText(FlexGrid->GetCurrentRow(), 1);
    if (!address)
        return;
    openUrl_(QStringLiteral("http://") + TrimSpaces(*address).toString());
}

bool FormMain::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == Frame3 || watched == Label2) && event->type() == QEvent::MouseButtonRelease) {
        HideProgressPanel();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FormMain::showEvent(QShowEvent *event)
{
    // Centred once, when the frame is known; after that the window stays where the user puts it.
    if (!centred_ && !event->spontaneous()) {
        centred_ = true;
        QRect frame = frameGeometry();
        frame.moveCenter(screen()->availableGeometry().center());
        move(frame.topLeft());
    }
    QWidget::showEvent(event);
}

void FormMain::closeEvent(QCloseEvent *event)
{
    closed_ = true;
    event->accept();
}

void FormMain::ShowProgressPanel()
{
    Frame3->show();
    Frame3->raise();
}

void FormMain::HideProgressPanel()
{
    Frame3->hide();
}

void FormMain::RepaintProgressPanel()
{
    Frame3->repaint();
}

void FormMain::SetStatus(const QString &text)
{
    SetLabelText(Label2, text);
}

void FormMain::SetTipLine(const QString &text)
{
    SetLabelText(Label4, text);
}

void FormMain::RepaintTipLine()
{
    Label4->repaint();
}

QString FormMain::GetDomainText() const
{
    return Text1->text();
}

void FormMain::SetDomainText(const QString &text)
{
    Text1->setText(text);
}

void FormMain::ProcessPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

ResultGridOps &FormMain::Grid()
{
    return *FlexGrid;
}
