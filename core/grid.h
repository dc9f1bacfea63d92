#pragma once

#include <cstddef>
#include <vector>

// A dense two-dimensional table in one block, indexed g[outer][inner].
template <typename T>
class grid {
public:
    grid() = default;
    grid(int outer, int inner, const T& fill)
        : outerCount(outer), innerCount(inner),
          cells(static_cast<size_t>(outer) * static_cast<size_t>(inner), fill) {}

    T* operator[](int i) { return cells.data() + static_cast<size_t>(i) * innerCount; }
    const T* operator[](int i) const { return cells.data() + static_cast<size_t>(i) * innerCount; }

    bool empty() const { return cells.empty(); }
    int outer() const { return outerCount; }
    int inner() const { return innerCount; }

private:
    int outerCount = 0;
    int innerCount = 0;
    std::vector<T> cells;
};
