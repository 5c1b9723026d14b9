#pragma once

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace aiclient {

/// A list guarded by a reader-writer lock: changes never overlap each other or a read.
template <class Element> class ArrayWithThreadSafety {
public:
    void append(Element element)
    {
        std::unique_lock lock(mutex_);
        array_.push_back(std::move(element));
    }

    /// Removes every element for which `predicate` holds; returns after the removal.
    template <class Predicate> void removeAll(Predicate predicate)
    {
        std::unique_lock lock(mutex_);
        array_.erase(std::remove_if(array_.begin(), array_.end(), predicate), array_.end());
    }

    /// A copy of the elements as they are now.
    std::vector<Element> snapshot() const
    {
        std::shared_lock lock(mutex_);
        return array_;
    }

    size_t size() const
    {
        std::shared_lock lock(mutex_);
        return array_.size();
    }

private:
    std::vector<Element> array_;
    mutable std::shared_mutex mutex_;
};

} // namespace aiclient
