#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent>

#include <type_traits>
#include <utility>

namespace vantorel {

// Runs work on pool (the global one when null) and hands its result to use on context's thread.
// The watcher is context's child: when context goes first, use is never called.
template <typename Work, typename Use>
void RunThen(QObject *context, QThreadPool *pool, Work work, Use use)
{
    using Result = std::invoke_result_t<Work>;
    auto *watcher = new QFutureWatcher<Result>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, use = std::move(use)]() mutable {
        watcher->deleteLater();
        if constexpr (std::is_void_v<Result>)
            use();
        else
            use(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(pool ? pool : QThreadPool::globalInstance(), std::move(work)));
}

// A read that a later read of the same kind replaces: its result is used only when no read
// counted by generation (a member of context) started after it.
template <typename Work, typename Use>
void ReadIfCurrent(QObject *context, QThreadPool *pool, int &generation, Work work, Use use)
{
    RunThen(context, pool, std::move(work),
            [ticket = ++generation, &generation, use = std::move(use)](std::invoke_result_t<Work> result) mutable {
                if (ticket == generation)
                    use(std::move(result));
            });
}

} // namespace vantorel
