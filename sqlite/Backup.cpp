#include "sqlite/Backup.h"

#include "sqlite/Connection.h"
#include "sqlite/Errors.h"

#include <sqlite3.h>

namespace sqlite {

namespace {

// The error of a backup call. sqlite3_backup_step leaves the target connection's error untouched, so its
// message there can be an older one: it is used only when it describes this very code.
[[noreturn]] void throwBackupError(int code, const Connection& target)
{
    sqlite3* handle = target.handle();
    const bool current = sqlite3_extended_errcode(handle) == code || sqlite3_errcode(handle) == code;
    std::string message = current ? sqlite3_errmsg(handle) : sqlite3_errstr(code);
    if (target.usesExtendedErrorCodes()) {
        throw Result::extendedError(std::move(message), code);
    }
    throw Result::error(std::move(message), code & 0xff);
}

} // namespace

void Backup::Finisher::operator()(sqlite3_backup* handle) const noexcept
{
    sqlite3_backup_finish(handle);
}

// Both queues, always taken in the same (address) order, so that two backups in opposite directions on two
// threads cannot wait for each other. Taking the same connection twice runs inline.
template <class Work> void Backup::underBothQueues(Work&& work)
{
    Connection* first = sourceConnection_.get();
    Connection* second = targetConnection_.get();
    if (std::less<>()(second, first)) {
        std::swap(first, second);
    }
    first->sync([&] { second->sync(std::forward<Work>(work)); });
}

Backup::Backup(std::shared_ptr<Connection> source, const DatabaseName& sourceName, std::shared_ptr<Connection> target,
               const DatabaseName& targetName)
    : targetConnection_(std::move(target)), sourceConnection_(std::move(source))
{
    underBothQueues([&] {
        sqlite3_backup* handle = sqlite3_backup_init(targetConnection_->handle(), targetName.schemaName().c_str(),
                                                     sourceConnection_->handle(), sourceName.schemaName().c_str());
        if (handle == nullptr) {
            // SQLite reports why on the target connection.
            Result::check(sqlite3_errcode(targetConnection_->handle()), *targetConnection_);
        }
        handle_.reset(handle);
    });
}

Backup::~Backup()
{
    finish();
}

Backup& Backup::operator=(Backup&& other) noexcept
{
    if (this != &other) {
        finish();
        handle_ = std::move(other.handle_);
        targetConnection_ = std::move(other.targetConnection_);
        sourceConnection_ = std::move(other.sourceConnection_);
    }
    return *this;
}

void Backup::step(Pages pages)
{
    if (!handle_) {
        return;
    }
    underBothQueues([&] {
        const int code = sqlite3_backup_step(handle_.get(), pages.count());
        if (code == SQLITE_DONE) {
            handle_.reset();
        } else if (code != SQLITE_OK) {
            throwBackupError(code, *targetConnection_);
        }
    });
}

std::int32_t Backup::pageCount() const
{
    return handle_ ? sqlite3_backup_pagecount(handle_.get()) : 0;
}

std::int32_t Backup::remainingPageCount() const
{
    return handle_ ? sqlite3_backup_remaining(handle_.get()) : 0;
}

void Backup::finish() noexcept
{
    if (!handle_) {
        return;
    }
    try {
        // Finishing writes its outcome into the target connection's error, which another thread may be
        // about to read under the queue.
        underBothQueues([&] { handle_.reset(); });
    } catch (...) {
        handle_.reset();
    }
}

Backup Connection::backup(const Backup::DatabaseName& name, std::shared_ptr<Connection> target,
                          const Backup::DatabaseName& targetName)
{
    return Backup(shared_from_this(), name, std::move(target), targetName);
}

} // namespace sqlite
