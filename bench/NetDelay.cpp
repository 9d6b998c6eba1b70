// vantorel_net_delay: holds every packet of netfilter queue 0 for the given milliseconds, then
// lets it go, in arrival order. scripts/bench-net.sh queues the packets that leave each socket
// of its own network namespace (iptables -j NFQUEUE in OUTPUT), which adds the delay to each
// direction of every connection there, for kernels without netem. Runs until killed.
//
//   vantorel_net_delay <milliseconds>

// The C library's network headers before the kernel's, which step aside for them.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
    Clock::time_point due;
    uint32_t id;
};

std::deque<Held> gHeld; // a constant delay keeps them in order of their due time
std::chrono::milliseconds gDelay{0};

int OnPacket(nfq_q_handle *, nfgenmsg *, nfq_data *data, void *)
{
    if (const nfqnl_msg_packet_hdr *header = nfq_get_msg_packet_hdr(data))
        gHeld.push_back({Clock::now() + gDelay, ntohl(header->packet_id)});
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 || std::atoi(argv[1]) < 0) {
        std::fputs("usage: vantorel_net_delay <milliseconds>\n", stderr);
        return 2;
    }
    gDelay = std::chrono::milliseconds(std::atoi(argv[1]));
    nfq_handle *handle = nfq_open();
    nfq_q_handle *queue = handle ? nfq_create_queue(handle, 0, &OnPacket, nullptr) : nullptr;
    if (!queue || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0) {
        std::perror("netfilter queue 0");
        return 1;
    }
    nfq_set_queue_maxlen(queue, 1 << 20);
    // A full queue lets packets through rather than dropping them.
    nfq_set_queue_flags(queue, NFQA_CFG_F_FAIL_OPEN, NFQA_CFG_F_FAIL_OPEN);
    const int fd = nfq_fd(handle);
    const int buffer = 64 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    std::fprintf(stdout, "delaying by %d ms\n", std::atoi(argv[1]));
    std::fflush(stdout);

    alignas(8) static char packet[1 << 16];
    for (;;) {
        int timeout = -1;
        if (!gHeld.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(gHeld.front().due - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, wait.count()));
        }
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, timeout) > 0) {
            for (;;) {
                const ssize_t length = recv(fd, packet, sizeof packet, MSG_DONTWAIT);
                if (length <= 0)
                    break;
                nfq_handle_packet(handle, packet, static_cast<int>(length));
            }
        }
        for (const auto now = Clock::now(); !gHeld.empty() && gHeld.front().due <= now; gHeld.pop_front())
            nfq_set_verdict(queue, gHeld.front().id, NF_ACCEPT, 0, nullptr);
    }
}
