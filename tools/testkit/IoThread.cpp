#include "tools/testkit/IoThread.h"

IoThread::IoThread()
    : work_(std::make_unique<boost::asio::io_service::work>(io_)), thread_([this] { io_.run(); }) {}

IoThread::~IoThread() {
    work_.reset();
    io_.stop();
    thread_.join();
}
