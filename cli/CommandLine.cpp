#include "CommandLine.h"

#include "ConsoleOutput.h"

#include <HistoryDatabase.h>
#include <RunChanges.h>
#include <Retry.h>
#include <Webhook.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>

namespace vantorel {

namespace {

constexpr int kMaxJobs = 256;
// A file of webhook addresses is a few lines; more is not such a file.
constexpr qint64 kMostNotifyFileBytes = 1024 * 1024;

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
                                           "或搜索控制台、SEO 工具导出的外链表格（按表头取来源网页一列），最多检测前 100,000 个；"
                                           "没有可检测的网址时以状态 2 退出。"),
                            QStringLiteral("FILE")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("输出格式 table、tsv、csv 或 json（默认：终端上为 table，否则为 tsv）；--report 还可为 html。"),
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
    QCommandLineOption prune{QStringLiteral("prune"),
                             QStringLiteral("从历史记录中删除早于 --keep 天的检测：vantorel --prune [DOMAIN] --keep DAYS（不给 DOMAIN 时处理所有网站）。"
                                            "有变化的检测、变化与之比较的检测、有未能检测的行的检测、每个地址最近的一次检测、搜索和未完成的检测都保留；"
                                            "删除后把空出的空间还给磁盘。")};
    QCommandLineOption keep{QStringLiteral("keep"), QStringLiteral("与 --prune 同用：保留最近 DAYS 天的检测，1 到 36500。"),
                            QStringLiteral("DAYS")};
    QCommandLineOption forget{QStringLiteral("forget"),
                              QStringLiteral("复查 DOMAIN 时不再检测网址 ADDRESS：vantorel --forget DOMAIN ADDRESS，"
                                             "直到搜索引擎或地址列表再次列出它。"),
                              QStringLiteral("DOMAIN")};
    QCommandLineOption expect{QStringLiteral("expect"),
                              QStringLiteral("约定 DOMAIN 的网址 ADDRESS 上的外链：vantorel --expect DOMAIN ADDRESS [--target URL] "
                                             "[--anchor TEXT] [--follow]。之后的检测发现链接指向别的页面、锚文本不同或不传递权重时，"
                                             "分别记为“目标页不符”“锚文本不符”“未传递权重（约定为 follow）”，每次不符只告知一次。"
                                             "三者都不给时清除约定。"),
                              QStringLiteral("DOMAIN")};
    QCommandLineOption target{QStringLiteral("target"), QStringLiteral("与 --expect 同用：外链应指向的本站网址。"),
                              QStringLiteral("URL")};
    QCommandLineOption anchor{QStringLiteral("anchor"), QStringLiteral("与 --expect 同用：外链应有的锚文本。"),
                              QStringLiteral("TEXT")};
    QCommandLineOption follow{QStringLiteral("follow"), QStringLiteral("与 --expect 同用：外链应传递权重（没有 nofollow、ugc 或 sponsored）。")};
    QCommandLineOption expectFromFirst{
        QStringLiteral("expect-from-first"),
        QStringLiteral("与 --check 或 --recheck 同用：还没有约定的网址，以这次检测发现的第一个链接（目标页、锚文本、是否传递权重）为约定。"
                       "导入的 Ahrefs、Semrush 或 Majestic 导出中的目标页、锚文本和 nofollow 也成为约定。")};
    QCommandLineOption disavow{QStringLiteral("disavow"),
                               QStringLiteral("在标准输出上写出 DOMAIN 的拒绝链接文件，可上传到搜索控制台（UTF-8，# 开头的为注释，"
                                              "每行一个网址）：vantorel --disavow DOMAIN [--rows removed|nofollow|all] > disavow.txt。"
                                              "超过 100,000 行、2 MB 或有网址超过 2,048 个字符时拒绝生成并说明原因，以状态 1 退出。"),
                               QStringLiteral("DOMAIN")};
    QCommandLineOption rows{QStringLiteral("rows"),
                            QStringLiteral("与 --disavow 同用：列出历史记录中曾经有效的哪些外链，按最近一次能访问时的检测："
                                           "removed 已失效的，nofollow 不传递权重的，all 全部（默认）。"),
                            QStringLiteral("WHICH")};
    QCommandLineOption noHistory{QStringLiteral("no-history"), QStringLiteral("与 --check 或 --recheck 同用：不把这次检测保存到历史记录。")};
    QCommandLineOption failOnLost{QStringLiteral("fail-on-lost"),
                                  QStringLiteral("与 --check 或 --recheck 同用：这次检测发现外链丢失（与该地址上一次能访问时的检测相比）时，以状态 5 退出。")};
    QCommandLineOption retries{QStringLiteral("retries"),
                               QStringLiteral("连接超时、传输超时、连接被重置或 HTTP 429、502、503、504 时，一个网页最多再试 N 次，"
                                              "0 到 5（默认 2）。"),
                               QStringLiteral("N")};
    QCommandLineOption noNotify{QStringLiteral("no-notify"),
                                QStringLiteral("与 --check、--recheck 或 --recheck-due 同用：丢失外链或网页变为无法访问时不发桌面通知。")};
    QCommandLineOption notifyUrl{QStringLiteral("notify-url"),
                                 QStringLiteral("与 --check、--recheck 或 --recheck-due 同用：检测有变化（仍无法访问除外）时，把变化以 JSON "
                                                "POST 到 URL；企业微信、钉钉、飞书/Lark 和 Slack 的机器人地址收到各自的文本消息。可多次使用。"),
                                 QStringLiteral("URL")};
    QCommandLineOption notifyUrlsFrom{
        QStringLiteral("notify-urls-from"),
        QStringLiteral("与 --notify-url 相同，通知网址从文件 FILE 读取（以空白或换行分隔，# 后为注释）；"
                       "环境变量 VANTOREL_NOTIFY_URLS 中的网址也一样使用。这两种方式不会让网址出现在进程列表中。"),
        QStringLiteral("FILE")};
    QCommandLineOption mailTo{QStringLiteral("mail-to"),
                              QStringLiteral("与 --check、--recheck、--recheck-due 或 --report 同用：检测有变化（仍无法访问除外）时把变化、"
                                             "或把报告，以电子邮件（纯文本和 HTML 两部分）发给 ADDRESS。可多次使用；"
                                             "环境变量 VANTOREL_MAIL_TO 中的地址（以空白分隔）也一样使用。需要 --smtp 和 --mail-from。"),
                              QStringLiteral("ADDRESS")};
    QCommandLineOption smtp{QStringLiteral("smtp"),
                            QStringLiteral("发送邮件的服务器：smtp://主机:587（服务器支持时用 STARTTLS 加密）或 smtps://主机:465"
                                           "（默认：环境变量 VANTOREL_SMTP）。用户名和密码取自环境变量 VANTOREL_SMTP_USER 和 "
                                           "VANTOREL_SMTP_PASSWORD，或 ~/.netrc 中该主机的一行；不会出现在任何输出中。"),
                            QStringLiteral("URL")};
    QCommandLineOption mailFrom{QStringLiteral("mail-from"),
                                QStringLiteral("邮件的发件人地址（默认：环境变量 VANTOREL_MAIL_FROM）。"), QStringLiteral("ADDRESS")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("报告 DOMAIN…（不给出时为历史记录中的每个网站）在 --since 期间的外链：期初和期末的有效、"
                                             "已失效和未能检测条数，以及期间的每个变化。--format 还可为 html：一个自带图表的网页。")};
    QCommandLineOption since{QStringLiteral("since"),
                             QStringLiteral("与 --report 同用：报告最近 PERIOD 的检测，如 7d（天，默认）、24h（小时）或 4w（周）。"),
                             QStringLiteral("PERIOD")};
    QCommandLineOption watch{QStringLiteral("watch"),
                             QStringLiteral("把 DOMAIN 加入自动复查列表（已在列表中则改变间隔），由 --recheck-due 按时复查。"),
                             QStringLiteral("DOMAIN")};
    QCommandLineOption every{QStringLiteral("every"), QStringLiteral("与 --watch 同用：每 HOURS 小时复查一次（默认 24）。"),
                             QStringLiteral("HOURS")};
    QCommandLineOption confirm{QStringLiteral("confirm"),
                               QStringLiteral("与 --check、--recheck 或 --watch 同用：连续 N 次完成的检测都发现外链已失效才算丢失，"
                                              "1 到 5（默认 1）；之前记为“疑似丢失”，不影响退出状态，也不发通知。"
                                              "与 --watch 同用时，该网站有疑似丢失的外链时一小时后即再复查。"),
                               QStringLiteral("N")};
    QCommandLineOption unwatch{QStringLiteral("unwatch"), QStringLiteral("把 DOMAIN 移出自动复查列表。"), QStringLiteral("DOMAIN")};
    QCommandLineOption watched{QStringLiteral("watched"),
                               QStringLiteral("列出自动复查列表：网站、间隔、上次和下次复查时间、最近一次检测的结果。")};
    QCommandLineOption recheckDue{QStringLiteral("recheck-due"),
                                  QStringLiteral("监控自动复查列表中到期的网站（新加入的立即到期）：查询一次搜索引擎并复查已知的外链，"
                                                 "逐个或 --workers 个同时进行，各保存为一次监控；"
                                                 "多个同时运行时（也可在多台电脑上共用一个 PostgreSQL 数据库）每个网站只复查一次。"
                                                 "退出状态取各网站中最差的。")};
    QCommandLineOption workers{QStringLiteral("workers"),
                               QStringLiteral("与 --recheck-due 同用：同时复查 N 个到期的网站，1 到 %1（默认 1）。").arg(kMostWorkers),
                               QStringLiteral("N")};
    QCommandLineOption timeout{QStringLiteral("timeout"),
                               QStringLiteral("与 --check 或 --recheck 同用：一个网页最多等待 SECONDS 秒（默认 30）。"),
                               QStringLiteral("SECONDS")};

    QCommandLineOption render{QStringLiteral("render"),
                              QStringLiteral("与 --check、--recheck 或 --recheck-due 同用：何时用无界面的 Chromium 再看一遍网页，"
                                             "找出脚本生成的链接：auto（默认）只看没有找到链接、像是由脚本生成的网页；"
                                             "never 从不；always 没有找到链接的网页都看。Chromium 由环境变量 VANTOREL_CHROMIUM "
                                             "指定（默认为 PATH 中的 chromium），找不到时跳过渲染并说明一行。"),
                              QStringLiteral("MODE")};

    QCommandLineOption noTargetCheck{QStringLiteral("no-target-check"),
                                     QStringLiteral("与 --check、--recheck 或 --recheck-due 同用：不检测链接指向的本站网页"
                                                    "（默认每次检测对每个目标页发一次 HEAD 请求，返回 404 等时说明“目标页返回 404”）。")};

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "网站外链检测：查找搜索引擎收录的、链接到某个域名的网页，并逐一检测它们是否仍然提到该域名，"
            "同时给出依据：HTTP 状态、链接及其锚文本、nofollow、noindex。不带 --check、--recheck、--history、--changes、"
            "--watch、--unwatch、--watched、--recheck-due、--report、--copy-history、--prune、--forget、--disavow 或 --expect 时打开窗口。--check 和 --recheck 的每次检测都保存在历史记录中"
            "（--no-history 除外）；无法保存时在标准错误上说明一行，结果照常输出，退出状态不变。"
            "保存的检测丢失外链或网页变为无法访问时发桌面通知（--no-notify 关闭），有变化时发给 --notify-url 和 --mail-to；"
            "发送失败只在标准错误上说明一行。\n\n"
            "退出状态：0 完成（无论结果如何）；1 结果无法写出（如磁盘已满或输出管道已关闭）、历史记录无法读取或无法复制；2 用法错误或地址列表中没有可检测的网址；"
            "3 无法访问搜索引擎；"
            "4 搜索引擎要求安全验证或返回的页面无法识别；5 使用 --fail-on-lost 时这次检测丢失了外链；"
            "6 使用 --fail-on-lost 时无法判断是否丢失外链（历史记录无法读取或保存、没有一个网页能够访问，"
            "或历史记录中没有可复查的外链），标准错误上说明原因；"
            "130、143、129 按下 Ctrl+C、收到 SIGTERM 或 SIGHUP 后停止，只输出已检测的行。--recheck-due 取各网站中最大的状态。"
            "详见 man vantorel。\n\n"
            "检测保存到历史记录后，标准错误的最后几行按变化类型各列一行，如“丢失 2 条：…”（最多列出 10 个地址）。"
            "变化类型：新增、丢失、疑似丢失、变为文字提及、恢复、变为 nofollow、变为 follow、锚文本变化、目标页不符、锚文本不符、未传递权重（约定为 follow）、"
            "变为 noindex、规范地址指向别处、"
            "被 robots.txt 屏蔽、目标页失效、变为无法访问、仍无法访问、未再列出。"
            "同一网站的各种写法（大小写、末尾的点、www.、中文域名或 punycode）共用一份历史记录。\n\n"
            "自动复查：vantorel --watch example.com 把网站加入列表，安装包带有的 systemd 用户单元每小时运行一次 "
            "vantorel --recheck-due：\n"
            "  systemctl --user enable --now vantorel-recheck-due.timer\n"
            "无人登录的服务器还需 loginctl enable-linger。没有 systemd 的系统可用 cron（crontab -e）：\n"
            "  17 * * * * vantorel --recheck-due\n"
            "中断的复查者留下的占用在网页超时加 %1 秒后失效（环境变量 VANTOREL_CLAIM_MARGIN 以秒为单位改变后者）。\n\n"
            "也可每天复查一个网站（systemd 用户单元 vantorel-recheck@.service 和 vantorel-recheck@.timer）：\n"
            "  systemctl --user enable --now vantorel-recheck@example.com.timer\n"
            "域名含“-”或中文时，单元名用 systemd-escape 写出：\n"
            "  systemctl --user enable --now \"$(systemd-escape --template vantorel-recheck@.timer 中文.com)\"\n\n"
            "每周报告（systemd 用户单元 vantorel-report.timer，每周一运行 vantorel --report --since 7d，"
            "收件人和邮件服务器写在 ~/.config/vantorel/environment 中：VANTOREL_MAIL_TO、VANTOREL_SMTP、VANTOREL_MAIL_FROM）：\n"
            "  systemctl --user enable --now vantorel-report.timer")
                                            .arg(kClaimMarginSeconds));
        listed = {check, recheck, history, changes, watch, every, confirm, unwatch, watched, recheckDue, workers, run, urls,
                  format, jobs, retries, timeout, render, noTargetCheck, db, noHistory, failOnLost, noNotify, notifyUrl,
                  notifyUrlsFrom, mailTo, smtp, mailFrom, report, since, copyHistory, merge, prune, keep, forget, expect, target, anchor, follow,
                  expectFromFirst, disavow, rows};
        parser.addOptions(listed);
    }

    // Ours, in the order --help lists them after -h and -v.
    QList<QCommandLineOption> listed;
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

// A period as --since takes it: a number of days, hours or weeks ("7d", "24h", "4w").
std::optional<qint64> PeriodSeconds(const QString &text)
{
    const struct {
        char16_t unit;
        qint64 seconds;
    } units[] = {{u'h', 3600}, {u'd', 24 * 3600}, {u'w', 7 * 24 * 3600}};
    bool isNumber = false;
    const qint64 count = text.chopped(text.isEmpty() ? 0 : 1).toLongLong(&isNumber);
    for (const auto &unit : units)
        if (isNumber && count > 0 && count <= 3660 && text.endsWith(unit.unit))
            return count * unit.seconds;
    return std::nullopt;
}

} // namespace

QString HelpText()
{
    // Qt's own help counts characters, not columns, and breaks Chinese lines in odd places.
    constexpr int kWidth = 80, kDescriptionColumn = 29;
    const Parser p;
    QString text = QStringLiteral("用法：vantorel [选项]\n");
    for (const QString &paragraph : p.parser.applicationDescription().split(u'\n')) {
        const bool example = paragraph.startsWith(u' ');
        for (const QString &line : example || paragraph.isEmpty() ? QStringList{paragraph} : WrapToColumns(paragraph, kWidth))
            text += line + u'\n';
    }
    text += QStringLiteral("\n选项：\n");
    for (const QCommandLineOption &option : QList{p.help, p.version} + p.listed) {
        QStringList names;
        for (const QString &name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            left += QStringLiteral(" <%1>").arg(option.valueName());
        if (DisplayWidth(left) >= kDescriptionColumn) {
            text += left + u'\n';
            left.clear();
        }
        for (const QString &line : WrapToColumns(option.description(), kWidth - kDescriptionColumn)) {
            text += left + QString(kDescriptionColumn - DisplayWidth(left), u' ') + line + u'\n';
            left.clear();
        }
    }
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
    // "--check --db F" would take "--db" for the domain: an option where the domain belongs
    // means the domain is missing.
    for (qsizetype i = 1; i < arguments.size() && arguments[i] != u"--"; ++i) {
        for (const QCommandLineOption *option : {&p.check, &p.recheck, &p.history, &p.changes}) {
            const QString name = QStringLiteral("--") + option->names().constFirst();
            if (arguments[i] == name && (i + 1 == arguments.size() || arguments[i + 1].startsWith(u'-'))) {
                line.error = name + QStringLiteral(" 需要一个网站地址");
                return line;
            }
        }
    }
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
    if (p.parser.isSet(p.report)) {
        line.command = Command::Report;
        line.reportDomains = std::exchange(positional, {});
    } else if (p.parser.isSet(p.forget) || p.parser.isSet(p.expect)) {
        if (positional.isEmpty()) {
            line.error = p.parser.isSet(p.forget) ? QStringLiteral("--forget 需要网站和网址：--forget DOMAIN ADDRESS")
                                                  : QStringLiteral("--expect 需要网站和网址：--expect DOMAIN ADDRESS");
            return line;
        }
        line.forgetAddress = positional.takeFirst();
    } else if (p.parser.isSet(p.prune) && !positional.isEmpty()) {
        line.checkDomain = positional.takeFirst();
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
    } commands[] = {{p.check, Command::Check},     {p.recheck, Command::Recheck}, {p.history, Command::History},
                    {p.changes, Command::Changes}, {p.watch, Command::Watch},     {p.unwatch, Command::Unwatch},
                    {p.watched, Command::Watched}, {p.recheckDue, Command::RecheckDue}, {p.prune, Command::Prune},
                    {p.forget, Command::Forget}, {p.disavow, Command::Disavow}, {p.expect, Command::Expect}};
    bool commandSet = line.command == Command::Report;
    for (const auto &entry : commands) {
        if (!p.parser.isSet(entry.option))
            continue;
        if (commandSet) {
            line.error = QStringLiteral("--check、--recheck、--history、--changes、--watch、--unwatch、--watched、--recheck-due、--report、"
                                        "--prune、--forget、--disavow 和 --expect 只能用其一");
            return line;
        }
        commandSet = true;
        line.command = entry.command;
        if (!entry.option.valueName().isEmpty())
            line.checkDomain = p.parser.value(entry.option);
    }
    // Whole numbers from 1 to their most.
    const struct {
        const QCommandLineOption &option;
        int most;
        int &value;
        const char16_t *error;
    } counts[] = {{p.every, kMostWatchHours, line.everyHours, u"--every 的值应为 1 到 %1 的整数小时数"},
                  {p.confirm, kMostConfirmChecks, line.confirmChecks, u"--confirm 的值应为 1 到 %1 的整数"},
                  {p.workers, kMostWorkers, line.workers, u"--workers 的值应为 1 到 %1 的整数"}};
    for (const auto &count : counts) {
        if (!p.parser.isSet(count.option))
            continue;
        count.value = p.parser.value(count.option).toInt(&isNumber);
        if (!isNumber || count.value < 1 || count.value > count.most) {
            line.error = QString::fromUtf16(count.error).arg(count.most);
            return line;
        }
    }
    if (p.parser.isSet(p.rows)) {
        const struct {
            const char16_t *name;
            DisavowRows rows;
        } choices[] = {{u"all", DisavowRows::All}, {u"removed", DisavowRows::Removed}, {u"nofollow", DisavowRows::Nofollow}};
        const auto chosen = std::find_if(std::begin(choices), std::end(choices),
                                         [&](const auto &choice) { return p.parser.value(p.rows) == choice.name; });
        if (chosen == std::end(choices)) {
            line.error = QStringLiteral("--rows 的值应为 removed、nofollow 或 all");
            return line;
        }
        line.disavowRows = chosen->rows;
    }
    if (p.parser.isSet(p.keep)) {
        line.keepDays = p.parser.value(p.keep).toInt(&isNumber);
        if (!isNumber || *line.keepDays < 1 || *line.keepDays > kMostKeepDays) {
            line.error = QStringLiteral("--keep 的值应为 1 到 %1 的整数天数").arg(kMostKeepDays);
            return line;
        }
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
    line.notify = !p.parser.isSet(p.noNotify);
    line.notifyUrls = p.parser.values(p.notifyUrl);
    if (p.parser.isSet(p.notifyUrlsFrom)) {
        QFile file(p.parser.value(p.notifyUrlsFrom));
        if (!file.open(QIODevice::ReadOnly)) {
            line.error = QStringLiteral("无法读取通知网址文件 %1：%2").arg(file.fileName(), file.errorString());
            return line;
        }
        line.notifyUrls += WebhookAddressesIn(QString::fromUtf8(file.read(kMostNotifyFileBytes)));
    }
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
    if (p.parser.isSet(p.format) && line.command == Command::Report && p.parser.value(p.format) == u"html") {
        line.html = true;
    } else if (p.parser.isSet(p.format)) {
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
    if (p.parser.isSet(p.render)) {
        line.render = RenderModeNamed(p.parser.value(p.render));
        if (!line.render) {
            line.error = QStringLiteral("--render 的值应为 auto、never 或 always");
            return line;
        }
    }
    line.checkTargets = !p.parser.isSet(p.noTargetCheck);
    if (p.parser.isSet(p.since)) {
        const std::optional<qint64> seconds = PeriodSeconds(p.parser.value(p.since));
        if (!seconds) {
            line.error = QStringLiteral("--since 的值应为天数、小时数或周数，如 7d、24h 或 4w");
            return line;
        }
        line.sinceSeconds = *seconds;
    }
    const bool checks = line.command == Command::RecheckDue ||
                        (line.checkDomain && (line.command == Command::Check || line.command == Command::Recheck));
    const bool lists = checks || line.command == Command::Watched || line.command == Command::Report ||
                       (line.checkDomain && (line.command == Command::History || line.command == Command::Changes));
    if (p.parser.isSet(p.format) && !lists)
        line.error = QStringLiteral("--format 需与 --check、--recheck、--recheck-due、--history、--changes、--watched 或 --report 同用");
    else if (p.parser.isSet(p.since) && line.command != Command::Report)
        line.error = QStringLiteral("--since 需与 --report 同用");
    else if ((p.parser.isSet(p.mailTo) || p.parser.isSet(p.smtp) || p.parser.isSet(p.mailFrom)) && !checks &&
             line.command != Command::Report)
        line.error = QStringLiteral("--mail-to、--smtp 和 --mail-from 需与 --check、--recheck、--recheck-due 或 --report 同用");
    else if ((!line.notify || !line.notifyUrls.isEmpty()) && !checks)
        line.error = QStringLiteral("--no-notify、--notify-url 和 --notify-urls-from 需与 --check、--recheck 或 --recheck-due 同用");
    else if (p.parser.isSet(p.every) && line.command != Command::Watch)
        line.error = QStringLiteral("--every 需与 --watch DOMAIN 同用");
    else if (p.parser.isSet(p.confirm) &&
             !(line.command == Command::Watch || (line.checkDomain && (line.command == Command::Check || line.command == Command::Recheck))))
        line.error = QStringLiteral("--confirm 需与 --check、--recheck 或 --watch 同用");
    else if (p.parser.isSet(p.workers) && line.command != Command::RecheckDue)
        line.error = QStringLiteral("--workers 需与 --recheck-due 同用");
    else if (line.command == Command::RecheckDue && !line.storeRun)
        line.error = QStringLiteral("--recheck-due 的复查要保存到历史记录，不能与 --no-history 同用");
    else if (line.urlsFile && !(line.checkDomain && line.command == Command::Check))
        line.error = QStringLiteral("--urls 需与 --check DOMAIN 同用");
    else if ((line.timeoutSeconds || !line.storeRun || line.failOnLost || line.render || !line.checkTargets) && !checks)
        line.error = QStringLiteral("--timeout、--render、--no-target-check、--no-history 和 --fail-on-lost 需与 --check、--recheck 或 --recheck-due 同用");
    else if (line.failOnLost && !line.storeRun)
        line.error = QStringLiteral("--fail-on-lost 要与历史记录比较，不能与 --no-history 同用");
    else if (line.runId && !(line.checkDomain && line.command == Command::Changes))
        line.error = QStringLiteral("--run 需与 --changes DOMAIN 同用");
    else if (!line.copyFrom.isEmpty() && commandSet)
        line.error = QStringLiteral(
            "--copy-history 不能与 --check、--recheck、--history、--changes、--watch、--unwatch、--watched 或 --recheck-due 同用");
    else if (p.parser.isSet(p.merge) && line.copyFrom.isEmpty())
        line.error = QStringLiteral("--merge 需与 --copy-history 同用");
    else if (line.command == Command::Prune && !line.keepDays)
        line.error = QStringLiteral("--prune 需要 --keep DAYS：保留最近多少天的检测");
    else if (p.parser.isSet(p.rows) && line.command != Command::Disavow)
        line.error = QStringLiteral("--rows 需与 --disavow DOMAIN 同用");
    else if (line.keepDays && line.command != Command::Prune)
        line.error = QStringLiteral("--keep 需与 --prune 同用");
    else if ((p.parser.isSet(p.target) || p.parser.isSet(p.anchor) || p.parser.isSet(p.follow)) && line.command != Command::Expect)
        line.error = QStringLiteral("--target、--anchor 和 --follow 需与 --expect DOMAIN ADDRESS 同用");
    else if (p.parser.isSet(p.expectFromFirst) && !(line.checkDomain && (line.command == Command::Check || line.command == Command::Recheck)))
        line.error = QStringLiteral("--expect-from-first 需与 --check 或 --recheck 同用");
    else if (p.parser.isSet(p.expectFromFirst) && !line.storeRun)
        line.error = QStringLiteral("--expect-from-first 要把约定保存到历史记录，不能与 --no-history 同用");
    if (line.error.isEmpty() && line.command == Command::Expect) {
        if (p.parser.isSet(p.target))
            line.expectTarget = p.parser.value(p.target);
        if (p.parser.isSet(p.anchor))
            line.expectAnchor = p.parser.value(p.anchor).simplified();
        line.expectFollow = p.parser.isSet(p.follow);
    }
    line.expectFromFirst = p.parser.isSet(p.expectFromFirst);
    if (!line.error.isEmpty() || !(checks || line.command == Command::Report))
        return line;
    line.mail.to = p.parser.values(p.mailTo) + WebhookAddressesIn(qEnvironmentVariable("VANTOREL_MAIL_TO"));
    line.mail.server = p.parser.isSet(p.smtp) ? p.parser.value(p.smtp) : qEnvironmentVariable("VANTOREL_SMTP");
    line.mail.from = p.parser.isSet(p.mailFrom) ? p.parser.value(p.mailFrom) : qEnvironmentVariable("VANTOREL_MAIL_FROM");
    if (!line.mail.to.isEmpty())
        if (const QString problem = MailSettingsProblem(line.mail); !problem.isEmpty()) {
            line.error = problem;
            return line;
        }
    if (!checks)
        return line;
    line.notifyUrls += WebhookAddressesIn(qEnvironmentVariable("VANTOREL_NOTIFY_URLS"));
    for (const QString &url : std::as_const(line.notifyUrls))
        if (const QString problem = WebhookAddressProblem(url); !problem.isEmpty()) {
            line.error = problem;
            break;
        }
    return line;
}

} // namespace vantorel
