// One rule for every list of listeners: one removed during a notification is not called.

#include "base/Listeners.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace talviren;

namespace {

struct Listener {
    Listener(std::string n, std::vector<std::string>* h) : name(std::move(n)), heard(h) {}
    std::string name;
    std::vector<std::string>* heard = nullptr;
    std::function<void()> onHear;
    void hear() {
        heard->push_back(name);
        if (onHear) {
            onHear();
        }
    }
};

TEST(Listeners, OneRemovedOrAddedDuringANotificationHearsAsTheRuleSays) {
    struct Case {
        const char* what;
        // What b does when it hears, on the list {a, b, c}.
        std::function<void(Listeners<Listener>&, Listener& a, Listener& b, Listener& c,
                           Listener& d)>
            act;
        std::vector<std::string> first, second; // who hears the two notifications
    };
    const std::vector<Case> cases = {
        {"nothing", [](auto&, auto&, auto&, auto&, auto&) {}, {"a", "b", "c"}, {"a", "b", "c"}},
        {"b removes itself",
         [](auto& l, auto&, auto& b, auto&, auto&) { l.remove(&b); },
         {"a", "b", "c"},
         {"a", "c"}},
        {"b removes c, after it",
         [](auto& l, auto&, auto&, auto& c, auto&) { l.remove(&c); },
         {"a", "b"},
         {"a", "b"}},
        {"b removes a, before it",
         [](auto& l, auto& a, auto&, auto&, auto&) { l.remove(&a); },
         {"a", "b", "c"},
         {"b", "c"}},
        {"b adds d: it hears the next one",
         [](auto& l, auto&, auto&, auto&, auto& d) { l.add(&d); },
         {"a", "b", "c"},
         {"a", "b", "c", "d"}},
        {"b removes c and adds it again: c waits for the next one",
         [](auto& l, auto&, auto&, auto& c, auto&) {
             l.remove(&c);
             l.add(&c);
         },
         {"a", "b"},
         {"a", "b", "c"}},
        {"b removes everyone",
         [](auto& l, auto& a, auto& b, auto& c, auto&) {
             l.remove(&a);
             l.remove(&b);
             l.remove(&c);
         },
         {"a", "b"},
         {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> heard;
        Listeners<Listener> listeners;
        Listener a{"a", &heard}, b{"b", &heard}, cc{"c", &heard}, d{"d", &heard};
        bool acted = false;
        b.onHear = [&] {
            if (!std::exchange(acted, true)) {
                c.act(listeners, a, b, cc, d);
            }
        };
        for (Listener* l : {&a, &b, &cc, &b}) {
            listeners.add(l); // twice: once
        }
        listeners.notify([](Listener& l) { l.hear(); });
        EXPECT_EQ(heard, c.first) << c.what;
        heard.clear();
        listeners.notify([](Listener& l) { l.hear(); });
        EXPECT_EQ(heard, c.second) << c.what << ", the next time";
        EXPECT_EQ(listeners.size(), c.second.size()) << c.what;
    }
}

TEST(Listeners, ANotificationWithinANotificationKeepsTheRule) {
    std::vector<std::string> heard;
    Listeners<Listener> listeners;
    Listener a{"a", &heard}, b{"b", &heard}, c{"c", &heard};
    int depth = 0;
    // a tells everyone again once; within it, b leaves: the outer round skips it too.
    a.onHear = [&] {
        if (depth++ == 0) {
            listeners.notify([](Listener& l) { l.hear(); });
        }
    };
    b.onHear = [&] { listeners.remove(&b); };
    for (Listener* l : {&a, &b, &c}) {
        listeners.add(l);
    }
    listeners.notify([](Listener& l) { l.hear(); });
    EXPECT_EQ(heard, (std::vector<std::string>{"a", "a", "b", "c", "c"}));
    EXPECT_FALSE(listeners.contains(&b));
    EXPECT_EQ(listeners.size(), 2u);
}

} // namespace
