// Examines paths for the input list on a worker thread.
//
// The worker only examines: it makes one ZuSoundFile per path and publishes
// it through a ZuSoundFileQueue.  A timer on the thread that owns the adder
// (the GUI thread) polls the worker's counters, reports progress and, when
// the worker is done, hands every examined model over in path order
// (finished); the receiver inserts them into the list, registers undo and
// sorts, on that thread.  An add requested while one runs waits in a queue
// and starts when the running one has been handed over.  No model, widget
// or list is touched by the worker.
#pragma once

#include "ZuSoundFile.h"
#include "ZuSoundFileQueue.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

class FileAdder : public QObject {
    Q_OBJECT
public:
    explicit FileAdder(QObject* parent = nullptr);
    // Stops the worker after the file it is examining and waits for it.
    ~FileAdder() override;

    // Starts examining `paths`, or queues them while an add runs.  An empty
    // list does nothing.
    void add(const QStringList& paths);

    // A worker runs or adds are waiting.
    bool isBusy() const;
    int examined() const { return m_examined.load(); }
    int total() const { return m_total; }
    int queuedAdds() const { return int(m_queue.size()); }

    // The poll interval in milliseconds (300 by default).
    void setPollInterval(int milliseconds);

signals:
    void started(int total);
    void progress(int examined, int total);
    // Every model of one add, in the order of its paths.
    void finished(const QList<std::shared_ptr<ZuSoundFile>>& models);

private:
    void startNext();
    void poll();
    void joinWorker();

    QList<QStringList> m_queue;
    QStringList m_paths;
    int m_total = 0;
    std::thread m_worker;
    std::atomic<int> m_examined{0};
    std::atomic<bool> m_workerDone{false};
    std::atomic<bool> m_stop{false};
    bool m_running = false;
    ZuSoundFileQueue m_results;
    QTimer m_timer;
};
