#include "Common/TcpConnection.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>
#include <utility>

TcpConnection::Ptr TcpConnection::create(boost::asio::io_service& io) {
    return Ptr(new TcpConnection(io));
}

TcpConnection::TcpConnection(boost::asio::io_service& io) : io_(io), socket_(io) {}

void TcpConnection::write(std::shared_ptr<const std::string> bytes, WriteDone done) {
    // The queue and the socket belong to the network thread; posting also keeps the order of
    // the write() calls.
    io_.post(
        [self = shared_from_this(), bytes = std::move(bytes), done = std::move(done)]() mutable {
            self->enqueue(std::move(bytes), std::move(done));
        });
}

void TcpConnection::setOverflowHandler(OverflowHandler handler) {
    overflowHandler_ = std::move(handler);
}

void TcpConnection::setBacklogCap(std::size_t bytes) {
    backlogCap_ = bytes;
}

bool TcpConnection::close() {
    if (closed_) {
        return false;
    }
    closed_ = true;
    boost::system::error_code ignored;
    socket_.cancel(ignored);
    socket_.close(ignored);
    // The write in flight keeps its bytes until its completion reports the cancel. The ones
    // behind it never start; their owners still hear of them, after that completion. Which of
    // them is the first failure is settled now: the connection may be gone when they run.
    const boost::system::error_code aborted = boost::asio::error::operation_aborted;
    for (PendingWrite& dropped : pending_) {
        if (dropped.done) {
            io_.post([done = std::move(dropped.done), aborted, first = firstFailure(aborted)] {
                done(aborted, 0, first);
            });
        }
    }
    pending_.clear();
    backlog_ = 0;
    return true;
}

void TcpConnection::enqueue(std::shared_ptr<const std::string> bytes, WriteDone done) {
    if (!bytes) {
        return;
    }
    if (closed_) {
        // What a send on a closed socket reports: the caller counts and logs it like any
        // failed send.
        if (done) {
            const boost::system::error_code badDescriptor = boost::asio::error::bad_descriptor;
            done(badDescriptor, 0, firstFailure(badDescriptor));
        }
        return;
    }
    backlog_ += bytes->size();
    pending_.push_back(PendingWrite{std::move(bytes), std::move(done)});
    if (backlog_ > backlogCap_ && !overflowed_) {
        // A peer that stops reading must not make us buffer without end.
        overflowed_ = true;
        if (overflowHandler_) {
            overflowHandler_(shared_from_this());
        }
        if (closed_) {
            return;
        }
    }
    if (!writing_) {
        writeNext();
    }
}

void TcpConnection::writeNext() {
    if (closed_ || pending_.empty()) {
        writing_ = false;
        return;
    }
    writing_ = true;
    // The write in flight owns its bytes and its done; the backlog still counts them until
    // they are out.
    auto item = std::make_shared<PendingWrite>(std::move(pending_.front()));
    pending_.pop_front();
    boost::asio::async_write(socket_, boost::asio::buffer(*item->bytes),
                             [self = shared_from_this(), item](
                                 const boost::system::error_code& error, std::size_t written) {
                                 if (!self->closed_) {
                                     self->backlog_ -= item->bytes->size();
                                 }
                                 if (item->done) {
                                     item->done(error, written, self->firstFailure(error));
                                 }
                                 self->writeNext();
                             });
}

bool TcpConnection::firstFailure(const boost::system::error_code& error) {
    if (!error || writeFailed_) {
        return false;
    }
    writeFailed_ = true;
    return true;
}
