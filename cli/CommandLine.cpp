#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace vantorel {

namespace {

constexpr int kMaxJobs = 256;

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption check{QStringLiteral("check"),
                             QStringLiteral("不打开窗口，检测 DOMAIN：向搜索引擎查询链接到它的网页，再逐一下载并判断。"),
                             QStringLiteral("DOMAIN")};
    QCommandLineOption urls{QStringLiteral("urls"),
                            QStringLiteral("与 --check 同用：不查询搜索引擎，检测 FILE 中列出的网址（每行一个；- 表示标准输入）。"),
                            QStringLiteral("FILE")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("与 --check 同用：输出格式 table、tsv、csv 或 json（默认：终端上为 table，否则为 tsv）。"),
                              QStringLiteral("FORMAT")};
    QCommandLineOption jobs{QStringLiteral("jobs"),
                            QStringLiteral("同时下载的网页数，1 到 256，每个网站最多同时 2 个（默认：窗口中的搜索结果为 8，"
                                           "检测地址列表和所有 --check 为 64）。"),
                            QStringLiteral("N")};
    QCommandLineOption db{QStringLiteral("db"),
                          QStringLiteral("历史记录保存在 FILE 中（默认：%1）。").arg(QStringLiteral("~/.local/share/vantorel/history.sqlite3")),
                          QStringLiteral("FILE")};
    QCommandLineOption timeout{QStringLiteral("timeout"),
                               QStringLiteral("与 --check 同用：一个网页最多等待 SECONDS 秒（默认 30）。"),
                               QStringLiteral("SECONDS")};

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "网站外链检测：查找搜索引擎收录的、链接到某个域名的网页，并逐一检测它们是否仍然提到该域名，"
            "同时给出依据：HTTP 状态、链接及其锚文本、nofollow、noindex。不带 --check 时打开窗口。\n\n"
            "使用 --check 时的退出状态：0 检测完成（无论结果如何）；1 无法写出结果（如磁盘已满）；2 用法错误；3 无法访问搜索引擎；"
            "4 搜索引擎要求安全验证或返回的页面无法识别；130 按下 Ctrl+C 后停止，已输出检测过的结果。"));
        parser.addOptions({check, urls, format, jobs, timeout, db});
    }
};

std::optional<OutputFormat> FormatNamed(const QString &name)
{
    const struct {
        const char16_t *name;
        OutputFormat format;
    } formats[] = {{u"table", OutputFormat::Table},
                   {u"tsv", OutputFormat::Tsv},
                   {u"csv", OutputFormat::Csv},
                   {u"json", OutputFormat::Json}};
    for (const auto &entry : formats)
        if (name == entry.name)
            return entry.format;
    return std::nullopt;
}

} // namespace

QString HelpText()
{
    // The usage line names the program as installed, however it was started.
    QString text = Parser().parser.helpText();
    const QString started = QCoreApplication::instance() ? QCoreApplication::arguments().value(0)
                                                         : QStringLiteral("<executable_name>");
    if (const qsizetype at = text.indexOf(started); at >= 0)
        text.replace(at, started.size(), QStringLiteral("vantorel"));
    return text;
}

QString VersionText()
{
    return QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n';
}

CommandLine ParseCommandLine(const QStringList &arguments, bool outputIsTerminal)
{
    Parser p;
    CommandLine line;
    if (!p.parser.parse(arguments)) {
        line.error = p.parser.errorText();
        return line;
    }
    line.help = p.parser.isSet(p.help) || p.parser.isSet(QStringLiteral("help-all"));
    line.version = p.parser.isSet(p.version);
    if (!p.parser.positionalArguments().isEmpty()) {
        line.error = QStringLiteral("多余的参数：") + p.parser.positionalArguments().first();
        return line;
    }

    bool isNumber = false;
    if (p.parser.isSet(p.jobs)) {
        line.jobs = p.parser.value(p.jobs).toInt(&isNumber);
        if (!isNumber || *line.jobs < 1 || *line.jobs > kMaxJobs) {
            line.error = QStringLiteral("--jobs 的值应为 1 到 %1 的整数").arg(kMaxJobs);
            return line;
        }
    }
    if (p.parser.isSet(p.check))
        line.checkDomain = p.parser.value(p.check);
    if (p.parser.isSet(p.urls))
        line.urlsFile = p.parser.value(p.urls);
    if (p.parser.isSet(p.db))
        line.historyFile = p.parser.value(p.db);
    line.format = outputIsTerminal ? OutputFormat::Table : OutputFormat::Tsv;
    if (p.parser.isSet(p.format)) {
        const std::optional<OutputFormat> format = FormatNamed(p.parser.value(p.format));
        if (!format) {
            line.error = QStringLiteral("--format 的值应为 table、tsv、csv 或 json");
            return line;
        }
        line.format = *format;
    }
    if (p.parser.isSet(p.timeout)) {
        const int seconds = p.parser.value(p.timeout).toInt(&isNumber);
        if (!isNumber || seconds < 1) {
            line.error = QStringLiteral("--timeout 的值应为不小于 1 的整数秒数");
            return line;
        }
        line.timeoutSeconds = seconds;
    }
    const bool checkOnly = line.urlsFile || p.parser.isSet(p.format) || line.timeoutSeconds;
    if (checkOnly && !line.checkDomain)
        line.error = QStringLiteral("--urls、--format 和 --timeout 需与 --check DOMAIN 同用");
    return line;
}

} // namespace vantorel
