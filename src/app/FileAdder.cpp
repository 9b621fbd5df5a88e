#include "FileAdder.h"

FileAdder::FileAdder(QObject* parent) : QObject(parent)
{
    m_timer.setInterval(300);
    connect(&m_timer, &QTimer::timeout, this, &FileAdder::poll);
}

FileAdder::~FileAdder()
{
    m_stop.store(true);
    joinWorker();
}

void FileAdder::setPollInterval(int milliseconds)
{
    m_timer.setInterval(milliseconds);
}

bool FileAdder::isBusy() const
{
    return m_running || !m_queue.isEmpty();
}

void FileAdder::add(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    m_queue.append(paths);
    if (!m_running)
        startNext();
}

void FileAdder::startNext()
{
    if (m_running || m_queue.isEmpty())
        return;
    m_paths = m_queue.takeFirst();
    m_total = int(m_paths.size());
    m_examined.store(0);
    m_workerDone.store(false);
    m_running = true;
    const QStringList paths = m_paths;
    m_worker = std::thread([this, paths] {
        for (const QString& path : paths) {
            if (m_stop.load())
                break;
            m_results.examineAndPublish(path);
            m_examined.fetch_add(1);
        }
        m_workerDone.store(true);
    });
    emit started(m_total);
    m_timer.start();
}

void FileAdder::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void FileAdder::poll()
{
    if (!m_running)
        return;
    if (!m_workerDone.load()) {
        emit progress(m_examined.load(), m_total);
        return;
    }
    joinWorker();
    m_timer.stop();
    const std::vector<std::shared_ptr<ZuSoundFile>> taken = m_results.takeAll();
    QList<std::shared_ptr<ZuSoundFile>> models(taken.begin(), taken.end());
    m_running = false;
    // The receivers insert, sort and report before the next add starts.
    emit finished(models);
    startNext();
}
