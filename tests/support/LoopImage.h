// A small file system of one type (ext4, ext2) made in an image file and
// mounted on a fresh folder, for tests that need what that file system
// does (ext4 and ext2 give a freed inode to the next file made; the ext2
// made here, of 128-byte inodes, keeps no birth times).  Mounting needs root and loop devices: where either is
// missing, ok() is false and why() says so (the test skips with it).
#pragma once

#include <string>

class LoopImage {
public:
    // The image goes into `folder` (a test's own), mounted on folder/mnt.
    LoopImage(const std::string& type, const std::string& folder);
    // Unmounts (detaching, should something still hold it).
    ~LoopImage();
    LoopImage(const LoopImage&) = delete;
    LoopImage& operator=(const LoopImage&) = delete;

    bool ok() const { return mounted_; }
    const std::string& why() const { return why_; }
    // The mounted file system's root.
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string why_;
    bool mounted_ = false;
};
