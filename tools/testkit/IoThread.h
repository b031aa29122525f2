#pragma once

#include <boost/asio/io_service.hpp>
#include <memory>
#include <thread>

// An io_service with one thread running it until destruction. Many ScriptedClients can share
// one; it must outlive them all.
class IoThread {
public:
    IoThread();
    ~IoThread();
    IoThread(const IoThread&) = delete;
    IoThread& operator=(const IoThread&) = delete;

    boost::asio::io_service& service() { return io_; }

private:
    boost::asio::io_service io_;
    std::unique_ptr<boost::asio::io_service::work> work_;
    std::thread thread_;
};
