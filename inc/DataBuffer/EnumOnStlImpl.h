#pragma once

#include "DataBuffer/RefCounted.h"
#include "DataBuffer/SafeNew.h"
#include "DataBuffer/SmartPointer.h"

#include <cstddef>
#include <utility>
#include <vector>

// An IEnumXxx-derived interface `I` implemented over a vector it owns.
// Instantiated as CRefCounted<CEnumOnStlImpl<I>>; one enumerator is used by
// one thread at a time.
template <class I>
class CEnumOnStlImpl : public I {
public:
    using ElementType = typename I::ElementType;
    using List = std::vector<ElementType>;

    bool Next(ElementType& out) override
    {
        if (cursor < items.size()) {
            // The cursor never returns, so the element's reference moves out.
            out = std::move(items[cursor++]);
            return true;
        }
        out = ElementType();
        return false;
    }

    int GetCount() const override { return static_cast<int>(items.size()); }

    virtual ~CEnumOnStlImpl() = default;

    // A new enumerator over `items`, cursor at the first element.
    static Tav::CSmartPointer<I> Create(List items)
    {
        return Tav::SafeNew<CRefCounted<CEnumOnStlImpl>>(std::move(items));
    }

protected:
    explicit CEnumOnStlImpl(List items) : items(std::move(items)), cursor(0) {}

private:
    List items;
    std::size_t cursor;
};
