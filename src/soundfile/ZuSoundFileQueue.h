// The hand-off of examined input-file models from the thread that makes
// them (the file-adding worker) to the threads that show them: a model is
// published only once its examination is complete, and whoever takes it
// sees every field the examination filled (the queue's lock orders the
// worker's writes before the reader's reads).
#pragma once

#include "ZuSoundFile.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

class ZuSoundFileQueue {
public:
    // Examines `path` on the calling thread and publishes the finished
    // model; returns it.
    std::shared_ptr<ZuSoundFile> examineAndPublish(const QString& path);
    // Publishes a model the caller made (a null model is ignored).
    void publish(std::shared_ptr<ZuSoundFile> model);
    // Every model published so far and not yet taken, in publishing order.
    std::vector<std::shared_ptr<ZuSoundFile>> takeAll();
    std::size_t pending() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<ZuSoundFile>> m_models;
};
