#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace talviren {

// The listeners of one source, told in the order they were added. One rule for all: a listener
// removed while a notification is under way is not called from then on, not even for the rest
// of that notification; one added meanwhile hears the next one. Nothing is copied or allocated
// to tell them, so that a reading's path stays as cheap with listeners as without.
template <typename Listener> class Listeners {
public:
    Listeners() = default;
    Listeners(const Listeners&) = delete;
    Listeners& operator=(const Listeners&) = delete;

    // Adds a listener; adding one twice, or none, has no effect.
    void add(Listener* listener) {
        if (listener && !contains(listener)) {
            list_.push_back(listener);
        }
    }
    // Removes a listener; it hears nothing more.
    void remove(Listener* listener) {
        const auto it = std::find(list_.begin(), list_.end(), listener);
        if (it == list_.end() || !listener) {
            return;
        }
        if (telling_ > 0) {
            *it = nullptr; // the loop under way skips it; the gap closes when it ends
            gaps_ = true;
        } else {
            list_.erase(it);
        }
    }
    bool contains(const Listener* listener) const {
        return listener && std::find(list_.begin(), list_.end(), listener) != list_.end();
    }
    bool empty() const { return size() == 0; }
    std::size_t size() const {
        return static_cast<std::size_t>(
            std::count_if(list_.begin(), list_.end(), [](const Listener* l) { return l; }));
    }

    // Calls `call(listener)` for each one that is still there when its turn comes.
    template <typename Call> void notify(Call&& call) {
        const Telling telling(*this);
        const std::size_t count = list_.size(); // those added meanwhile wait for the next one
        for (std::size_t i = 0; i < count; ++i) {
            if (Listener* listener = list_[i]) {
                call(*listener);
            }
        }
    }

private:
    struct Telling {
        explicit Telling(Listeners& l) : listeners(l) { ++listeners.telling_; }
        ~Telling() {
            if (--listeners.telling_ == 0 && listeners.gaps_) {
                std::erase(listeners.list_, nullptr);
                listeners.gaps_ = false;
            }
        }
        Listeners& listeners;
    };

    std::vector<Listener*> list_;
    int telling_ = 0;
    bool gaps_ = false;
};

} // namespace talviren
