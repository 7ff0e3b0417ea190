// A two-way binding: how an editor reads the value it edits and hands back one whole new value per
// user action. The owner decides where the value lives.
#pragma once

#include <functional>

namespace qw {

template <typename T>
struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;
};

}  // namespace qw
