#include "SmtpSend.h"

#include "Network.h"

#include <curl/curl.h>

#include <memory>

namespace vantorel {

namespace {

struct Reading {
    const QByteArray *bytes;
    qsizetype sent = 0;
};

size_t ReadMessage(char *buffer, size_t size, size_t count, void *userdata)
{
    auto *reading = static_cast<Reading *>(userdata);
    const qsizetype part = std::min(static_cast<qsizetype>(size * count), reading->bytes->size() - reading->sent);
    std::copy_n(reading->bytes->constData() + reading->sent, part, buffer);
    reading->sent += part;
    return static_cast<size_t>(part);
}

QString Cause(CURLcode code, long reply)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("域名无法解析");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("无法连接");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("连接超时");
    case CURLE_LOGIN_DENIED:
        return QStringLiteral("用户名或密码被拒绝");
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("服务器证书无法验证");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("TLS 连接失败");
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return QStringLiteral("邮件服务器地址应以 smtp:// 或 smtps:// 开头");
    default:
        break;
    }
    // A refusal in the dialogue (a sender or recipient refused, a message too large).
    if (reply >= 400)
        return QStringLiteral("服务器拒绝（SMTP %1）").arg(reply);
    if (code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR || code == CURLE_WEIRD_SERVER_REPLY)
        return QStringLiteral("连接中断");
    return QStringLiteral("发送失败（curl %1）").arg(static_cast<int>(code));
}

} // namespace

QString SendSmtp(const SmtpDelivery &delivery)
{
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy)
        return QStringLiteral("发送失败（无法初始化）");
    curl_slist *list = nullptr;
    for (const QString &address : delivery.to)
        if (curl_slist *more = curl_slist_append(list, ('<' + address.toUtf8() + '>').constData()))
            list = more;
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipients(list, &curl_slist_free_all);
    const QByteArray url = delivery.server.toUtf8();
    const QByteArray from = '<' + delivery.from.toUtf8() + '>';
    const QByteArray user = delivery.user.toUtf8();
    const QByteArray password = delivery.password.toUtf8();
    const CaStore store = TransferCaStore();
    Reading reading{&delivery.message};
    CURL *h = easy.get();
    const long seconds = static_cast<long>(delivery.timeout.count());
    bool set = recipients && curl_easy_setopt(h, CURLOPT_URL, url.constData()) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps") == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, std::min(seconds, 15L)) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_TIMEOUT, seconds) == CURLE_OK &&
               // smtp:// goes on in the clear only when the server offers no STARTTLS.
               curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY)) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_CAINFO, store.file.isEmpty() ? nullptr : store.file.constData()) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_CAPATH, store.directory.isEmpty() ? nullptr : store.directory.constData()) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL)) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData()) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get()) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_UPLOAD, 1L) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(delivery.message.size())) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadMessage) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_READDATA, &reading) == CURLE_OK;
    if (set && !user.isEmpty())
        set = curl_easy_setopt(h, CURLOPT_USERNAME, user.constData()) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData()) == CURLE_OK;
    if (!set)
        return QStringLiteral("发送失败（无法设置连接）");
    const CURLcode code = curl_easy_perform(h);
    if (code == CURLE_OK)
        return {};
    long reply = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply);
    return Cause(code, reply);
}

} // namespace vantorel
