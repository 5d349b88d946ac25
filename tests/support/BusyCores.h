#pragma once

// A machine busy with something else (a report being typed, a build): every core runs a busy loop
// at the test's own priority for as long as this lives.

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace velmora::test {

class BusyCores {
public:
    BusyCores() {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < cores; ++i) {
            threads_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed)) {
                    ++spins_;
                }
            });
        }
    }
    ~BusyCores() {
        stop_ = true;
        for (std::thread& thread : threads_) {
            thread.join();
        }
    }
    BusyCores(const BusyCores&) = delete;
    BusyCores& operator=(const BusyCores&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::atomic<unsigned long> spins_{0};
    std::vector<std::thread> threads_;
};

}  // namespace velmora::test
