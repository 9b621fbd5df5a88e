#include "ZuSoundFileQueue.h"

std::shared_ptr<ZuSoundFile> ZuSoundFileQueue::examineAndPublish(const QString& path)
{
    // The model is complete when its constructor returns; only then does
    // anyone else get to see it.
    std::shared_ptr<ZuSoundFile> model = ZuSoundFile::soundFileWithPath(path);
    publish(model);
    return model;
}

void ZuSoundFileQueue::publish(std::shared_ptr<ZuSoundFile> model)
{
    if (!model)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_models.push_back(std::move(model));
}

std::vector<std::shared_ptr<ZuSoundFile>> ZuSoundFileQueue::takeAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<ZuSoundFile>> taken;
    taken.swap(m_models);
    return taken;
}

std::size_t ZuSoundFileQueue::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_models.size();
}
