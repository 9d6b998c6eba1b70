#pragma once

// Inside net and the tests' blocking fetch only: the rest of the program never sees libcurl.

#include "FetchResult.h"
#include "Network.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>

namespace vantorel {

// One GET on a curl easy handle that carries every limit of a fetch. The blocking fetch and
// the engine both run their transfers through it, so the limits are set in one place.
// The handle points into this object: it stays where it was made.
class CurlTransfer {
public:
    // The transfer's clock starts here: make it just before the transfer runs. Servers are
    // verified against the certificates of store.
    CurlTransfer(const QString &url, const FetchLimits &limits, const CaStore &store = TransferCaStore());
    CurlTransfer(const CurlTransfer &) = delete;
    CurlTransfer &operator=(const CurlTransfer &) = delete;

    // The caller ends the transfer, and a connection not made, when their time is up by its own
    // clock; curl keeps only its five-minute connect time-out as a backstop. Before it runs.
    void LeaveTimeOutsToCaller();
    // A HEAD instead of the GET: the status and headers, no body. Before it runs.
    void AskHeadOnly();

    // Null when some limit could not be set: such a transfer must never run.
    CURL *Handle() const { return setUpFailure_.isEmpty() ? easy_.get() : nullptr; }

    // How the transfer ended, given curl's code for it; a failed set-up whatever the code.
    FetchResult Finish(CURLcode code);

    // Curl tells the transfer itself when each request of a chain is about to go out (it tells
    // a connect time-out from a later one by it); whoever else needs to know asks through here.
    void AlsoOnRequestReady(curl_prereq_callback callback, void *data)
    {
        alsoOnRequestReady_ = callback;
        alsoData_ = data;
    }

    // Asked before each piece of the body is kept, with the bytes kept so far, those offered and
    // the length the response announced (-1 if none; a compressed body may grow past it); false
    // pauses the transfer (curl_easy_pause resumes it, offering them again).
    // The room for the announced length is taken only once the body passes growsUpTo: a body
    // the gate may pause before then holds no more memory than it has kept.
    using BodyGate = bool (*)(void *data, qsizetype kept, qsizetype offered, qsizetype announced);
    void GateBody(BodyGate gate, void *data, qsizetype growsUpTo)
    {
        bodyGate_ = gate;
        gateData_ = data;
        growsUpTo_ = growsUpTo;
    }

private:
    struct EasyDeleter {
        void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
    };
    struct ListDeleter {
        void operator()(curl_slist *list) const { curl_slist_free_all(list); }
    };
    static int OnRequestReady(void *userdata, char *primaryIp, char *localIp, int primaryPort, int localPort);

    static size_t AppendToBody(char *data, size_t size, size_t count, void *userdata);
    qsizetype AnnouncedLength() const;

    std::chrono::steady_clock::time_point started_;
    QString setUpFailure_;
    std::unique_ptr<curl_slist, ListDeleter> headers_;
    QByteArray url_;
    QByteArray body_;
    qsizetype bodyCap_ = 0;
    bool overCap_ = false;
    char errorText_[CURL_ERROR_SIZE] = {};
    long sentOnHop_ = -1; // the redirect count when a request last went out on a ready connection
    curl_prereq_callback alsoOnRequestReady_ = nullptr;
    void *alsoData_ = nullptr;
    BodyGate bodyGate_ = nullptr;
    void *gateData_ = nullptr;
    qsizetype growsUpTo_ = 0;
    bool reserved_ = false; // the room for the announced length, once
    std::unique_ptr<CURL, EasyDeleter> easy_; // last: it is cleaned up before what it points to
};

} // namespace vantorel
