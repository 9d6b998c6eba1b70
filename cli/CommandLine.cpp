#include "CommandLine.h"

#include <HistoryDatabase.h>
#include <Retry.h>

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
    QCommandLineOption recheck{QStringLiteral("recheck"),
                               QStringLiteral("不打开窗口，不查询搜索引擎，复查历史记录中 DOMAIN 曾经有效的每个外链，并保存为来源为复查的一次检测。"),
                               QStringLiteral("DOMAIN")};
    QCommandLineOption history{QStringLiteral("history"), QStringLiteral("列出历史记录中 DOMAIN 的各次检测，最新的在前。"),
                               QStringLiteral("DOMAIN")};
    QCommandLineOption changes{QStringLiteral("changes"),
                               QStringLiteral("列出 DOMAIN 最近一次检测（或 --run 指定的检测）的变化：每个地址与它自己上一次的检测相比。"
                                              "DOMAIN 可写成任一形式（带或不带 www.、大小写、中文或 punycode）。"),
                               QStringLiteral("DOMAIN")};
    QCommandLineOption run{QStringLiteral("run"), QStringLiteral("与 --changes 同用：编号为 ID 的检测（编号见 --history）。"),
                           QStringLiteral("ID")};
    QCommandLineOption urls{QStringLiteral("urls"),
                            QStringLiteral("与 --check 同用：不查询搜索引擎，检测 FILE 中列出的网址（- 表示标准输入）：每行一个，"
                                           "或搜索控制台、SEO 工具导出的外链表格（按表头取来源网页一列）；"
                                           "没有可检测的网址时以状态 2 退出。"),
                            QStringLiteral("FILE")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("输出格式 table、tsv、csv 或 json（默认：终端上为 table，否则为 tsv）。"),
                              QStringLiteral("FORMAT")};
    QCommandLineOption jobs{QStringLiteral("jobs"),
                            QStringLiteral("同时下载的网页数，1 到 256，每个网站最多同时 2 个（默认：窗口中的搜索结果为 8，"
                                           "检测地址列表和所有命令行检测为 64）。"),
                            QStringLiteral("N")};
    QCommandLineOption db{QStringLiteral("db"),
                          QStringLiteral("历史记录保存在文件 DB 中（默认：%1），或 PostgreSQL 数据库中："
                                         "postgresql://[用户[:密码]@][主机][:端口][/数据库][?sslmode=…]"
                                         "（主机也可以是服务器套接字所在的文件夹，如 postgresql:///vantorel?host=/var/run/postgresql；"
                                         "未给出的密码从 PGPASSWORD 或 ~/.pgpass 读取）。")
                              .arg(QStringLiteral("~/.local/share/vantorel/history.sqlite3")),
                          QStringLiteral("DB")};
    QCommandLineOption copyHistory{
        QStringLiteral("copy-history"),
        QStringLiteral("把历史记录 FROM 中的每次检测、每一行和每个链接复制到历史记录 TO 中（两者都可以是文件或 postgresql:// 地址），"
                       "并输出和核对复制的数量：vantorel --copy-history FROM TO。TO 中已有检测时拒绝复制，除非加 --merge。"),
        QStringLiteral("FROM")};
    QCommandLineOption merge{QStringLiteral("merge"),
                             QStringLiteral("与 --copy-history 同用：TO 中已有检测时也复制，复制的检测排在 TO 原有的检测之后。")};
    QCommandLineOption noHistory{QStringLiteral("no-history"), QStringLiteral("与 --check 或 --recheck 同用：不把这次检测保存到历史记录。")};
    QCommandLineOption failOnLost{QStringLiteral("fail-on-lost"),
                                  QStringLiteral("与 --check 或 --recheck 同用：这次检测发现外链丢失（与该地址上一次能访问时的检测相比）时，以状态 5 退出。")};
    QCommandLineOption retries{QStringLiteral("retries"),
                               QStringLiteral("连接超时、传输超时、连接被重置或 HTTP 429、502、503、504 时，一个网页最多再试 N 次，"
                                              "0 到 5（默认 2）。"),
                               QStringLiteral("N")};
    QCommandLineOption timeout{QStringLiteral("timeout"),
                               QStringLiteral("与 --check 或 --recheck 同用：一个网页最多等待 SECONDS 秒（默认 30）。"),
                               QStringLiteral("SECONDS")};

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "网站外链检测：查找搜索引擎收录的、链接到某个域名的网页，并逐一检测它们是否仍然提到该域名，"
            "同时给出依据：HTTP 状态、链接及其锚文本、nofollow、noindex。不带 --check、--recheck、--history 或 --changes "
            "时打开窗口。--check 和 --recheck 的每次检测都保存在历史记录中（--no-history 除外）；"
            "无法保存时在标准错误上说明一行，结果照常输出，退出状态不变。\n\n"
            "退出状态：0 完成（无论结果如何）；1 结果无法写出（如磁盘已满）、历史记录无法读取或无法复制；2 用法错误或地址列表中没有可检测的网址；"
            "3 无法访问搜索引擎；"
            "4 搜索引擎要求安全验证或返回的页面无法识别；5 使用 --fail-on-lost 时这次检测丢失了外链；"
            "6 使用 --fail-on-lost 时无法判断是否丢失外链（历史记录无法读取或保存、没有一个网页能够访问，"
            "或历史记录中没有可复查的外链），标准错误上说明原因；"
            "130 按下 Ctrl+C 后停止，已输出检测过的结果。\n\n"
            "检测保存到历史记录后，标准错误的最后几行按变化类型各列一行，如“丢失 2 条：…”（最多列出 10 个地址）。"
            "变化类型：新增、丢失、恢复、变为 nofollow、变为 follow、锚文本变化、变为无法访问、仍无法访问、未再列出。"
            "同一网站的各种写法（大小写、末尾的点、www.、中文域名或 punycode）共用一份历史记录。\n\n"
            "每天自动复查（安装包带有 systemd 用户单元 vantorel-recheck@.service 和 vantorel-recheck@.timer）：\n"
            "  systemctl --user enable --now vantorel-recheck@example.com.timer\n"
            "域名含“-”或中文时，单元名用 systemd-escape 写出：\n"
            "  systemctl --user enable --now \"$(systemd-escape --template vantorel-recheck@.timer 中文.com)\"\n"
            "没有 systemd 的系统可用 cron（crontab -e）：\n"
            "  30 6 * * * vantorel --recheck example.com --fail-on-lost"));
        parser.addOptions({check, recheck, history, changes, run, urls, format, jobs, retries, timeout, db, noHistory, failOnLost,
                           copyHistory, merge});
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
    QStringList positional = p.parser.positionalArguments();
    if (p.parser.isSet(p.copyHistory)) {
        if (positional.isEmpty()) {
            line.error = QStringLiteral("--copy-history 需要两个历史记录：--copy-history FROM TO");
            return line;
        }
        line.command = Command::CopyHistory;
        line.copyFrom = p.parser.value(p.copyHistory);
        line.copyTo = positional.takeFirst();
        line.merge = p.parser.isSet(p.merge);
        for (const QString &location : {line.copyFrom, line.copyTo})
            if (const QString error = LocationError(location); !error.isEmpty()) {
                line.error = QStringLiteral("--copy-history 的值无效：") + error;
                return line;
            }
    }
    if (!positional.isEmpty()) {
        line.error = QStringLiteral("多余的参数：") + positional.first();
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
    const struct {
        const QCommandLineOption &option;
        Command command;
    } commands[] = {{p.check, Command::Check}, {p.recheck, Command::Recheck}, {p.history, Command::History},
                    {p.changes, Command::Changes}};
    for (const auto &entry : commands) {
        if (!p.parser.isSet(entry.option))
            continue;
        if (line.checkDomain) {
            line.error = QStringLiteral("--check、--recheck、--history 和 --changes 只能用其一");
            return line;
        }
        line.command = entry.command;
        line.checkDomain = p.parser.value(entry.option);
    }
    if (p.parser.isSet(p.run)) {
        line.runId = p.parser.value(p.run).toLongLong(&isNumber);
        if (!isNumber || *line.runId < 1) {
            line.error = QStringLiteral("--run 的值应为检测的编号（正整数）");
            return line;
        }
    }
    line.storeRun = !p.parser.isSet(p.noHistory);
    line.failOnLost = p.parser.isSet(p.failOnLost);
    if (p.parser.isSet(p.urls))
        line.urlsFile = p.parser.value(p.urls);
    if (p.parser.isSet(p.db)) {
        line.historyFile = p.parser.value(p.db);
        if (const QString error = LocationError(*line.historyFile); !error.isEmpty()) {
            line.error = QStringLiteral("--db 的值无效：") + error;
            return line;
        }
    }
    line.format = outputIsTerminal ? OutputFormat::Table : OutputFormat::Tsv;
    if (p.parser.isSet(p.format)) {
        const std::optional<OutputFormat> format = FormatNamed(p.parser.value(p.format));
        if (!format) {
            line.error = QStringLiteral("--format 的值应为 table、tsv、csv 或 json");
            return line;
        }
        line.format = *format;
    }
    if (p.parser.isSet(p.retries)) {
        const int tries = p.parser.value(p.retries).toInt(&isNumber);
        if (!isNumber || tries < 0 || tries > kMaxRetries) {
            line.error = QStringLiteral("--retries 的值应为 0 到 %1 的整数").arg(kMaxRetries);
            return line;
        }
        line.retries = tries;
    }
    if (p.parser.isSet(p.timeout)) {
        const int seconds = p.parser.value(p.timeout).toInt(&isNumber);
        if (!isNumber || seconds < 1) {
            line.error = QStringLiteral("--timeout 的值应为不小于 1 的整数秒数");
            return line;
        }
        line.timeoutSeconds = seconds;
    }
    const bool checks = line.checkDomain && (line.command == Command::Check || line.command == Command::Recheck);
    if (p.parser.isSet(p.format) && !line.checkDomain)
        line.error = QStringLiteral("--format 需与 --check、--recheck、--history 或 --changes 同用");
    else if (line.urlsFile && !(line.checkDomain && line.command == Command::Check))
        line.error = QStringLiteral("--urls 需与 --check DOMAIN 同用");
    else if ((line.timeoutSeconds || !line.storeRun || line.failOnLost) && !checks)
        line.error = QStringLiteral("--timeout、--no-history 和 --fail-on-lost 需与 --check 或 --recheck 同用");
    else if (line.failOnLost && !line.storeRun)
        line.error = QStringLiteral("--fail-on-lost 要与历史记录比较，不能与 --no-history 同用");
    else if (line.runId && !(line.checkDomain && line.command == Command::Changes))
        line.error = QStringLiteral("--run 需与 --changes DOMAIN 同用");
    else if (!line.copyFrom.isEmpty() && line.checkDomain)
        line.error = QStringLiteral("--copy-history 不能与 --check、--recheck、--history 或 --changes 同用");
    else if (p.parser.isSet(p.merge) && line.copyFrom.isEmpty())
        line.error = QStringLiteral("--merge 需与 --copy-history 同用");
    return line;
}

} // namespace vantorel
