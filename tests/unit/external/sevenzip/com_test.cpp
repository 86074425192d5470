// The COM vocabulary every object of the binding rests on: one base answers QueryInterface and
// counts references for all interfaces of an object, the owning pointer adopts and hands out
// references, and the PROPVARIANT guard frees what the library filled on every way out.
#include "external/sevenzip/sevenzip_com.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace halyard::sevenzip {
namespace {

// An object with two interfaces, one of which extends another.
class Probe final : public ComObject<Probe, IInStream, IStreamGetSize> {
public:
    explicit Probe(bool& gone) : gone_(gone) {}

    HRESULT Read(void*, std::uint32_t, std::uint32_t*) override { return kOk; }
    HRESULT Seek(std::int64_t, std::uint32_t, std::uint64_t*) override { return kOk; }
    HRESULT GetSize(std::uint64_t* size) override {
        *size = 42;
        return kOk;
    }

private:
    using Base = ComObject<Probe, IInStream, IStreamGetSize>;
    friend Base;
    ~Probe() { gone_ = true; }

    bool& gone_;
};

template <class I>
I* Query(IUnknown& object) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(object.QueryInterface(I::kIid, &out), kOk);
    return static_cast<I*>(out);
}

TEST(ComObject, AnswersEachInterfaceAndTheOnesItExtendsOnOneCount) {
    bool gone = false;
    ComPtr<Probe> probe = MakeComObject<Probe>(gone);
    IInStream* in = probe.get();
    IStreamGetSize* size = probe.get();
    ASSERT_NE(static_cast<void*>(in), static_cast<void*>(size));

    EXPECT_EQ(Query<IUnknown>(*size), static_cast<IUnknown*>(in)); // the first interface
    EXPECT_EQ(Query<ISequentialInStream>(*size), static_cast<ISequentialInStream*>(in));
    EXPECT_EQ(Query<IInStream>(*size), in);
    EXPECT_EQ(Query<IStreamGetSize>(*in), size);
    // One reference made, four handed out; whichever interface releases, the count is one.
    EXPECT_EQ(probe->AddRef(), 6u);
    EXPECT_EQ(size->Release(), 5u);
    for (int i = 0; i < 4; ++i) {
        in->Release();
    }
    EXPECT_FALSE(gone);

    // Interfaces it does not have: nothing handed out, nothing counted.
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(in->QueryInterface(IID_IOutStream, &out), kNoInterface);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(in->QueryInterface(IID_IArchiveExtractCallback, &out), kNoInterface);
    EXPECT_EQ(in->QueryInterface(IID_IInStream, nullptr), kInvalidArg);
    EXPECT_EQ(probe->AddRef(), 2u);
    probe->Release();

    probe.reset();
    EXPECT_TRUE(gone);
}

TEST(ComPtr, CopiesCountMovesAndOutParametersHandOver) {
    bool gone = false;
    ComPtr<Probe> first = MakeComObject<Probe>(gone);
    {
        const ComPtr<Probe> copy = first;                      // +1
        ComPtr<IStreamGetSize> asSize = copy;                  // +1, another interface
        const ComPtr<IStreamGetSize> moved(std::move(asSize)); // no change
        EXPECT_FALSE(asSize);
        std::uint64_t value = 0;
        EXPECT_EQ(moved->GetSize(&value), kOk);
        EXPECT_EQ(value, 42u);
        EXPECT_EQ(first->AddRef(), 4u);
        first->Release();
    }
    EXPECT_EQ(first->AddRef(), 2u);
    first->Release();

    // put() releases what is held before the callee fills the slot; detach() hands the reference
    // out without releasing it.
    ComPtr<IInStream> slot = ComPtr<IInStream>(first);
    ASSERT_EQ(first->QueryInterface(IID_IInStream, slot.putVoid()), kOk);
    EXPECT_EQ(first->AddRef(), 3u);
    first->Release();
    IInStream* raw = slot.detach();
    EXPECT_FALSE(slot);
    first.reset();
    EXPECT_FALSE(gone);
    raw->Release();
    EXPECT_TRUE(gone);
}

// Stands in for the library's VariantClear: counts its calls and empties the value.
int gClears = 0;
HRESULT CountingClear(PROPVARIANT* value) {
    ++gClears;
    *value = PROPVARIANT{};
    return kOk;
}

void FillText(PROPVARIANT* value) {
    value->vt = VT_BSTR;
    value->bstrVal = nullptr;
}

TEST(PropVariant, IsClearedOnEveryWayOutAndBeforeItIsFilledAgain) {
    gClears = 0;
    {
        PropVariant value(CountingClear);
        FillText(value.put());
        EXPECT_EQ(value->vt, VT_BSTR);
        FillText(value.put()); // the first value is freed before the slot is given again
        EXPECT_EQ(gClears, 1);
    }
    EXPECT_EQ(gClears, 2);

    try {
        PropVariant value(CountingClear);
        FillText(value.put());
        throw std::runtime_error("on the way");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(gClears, 3);

    // Nothing was filled: nothing to free, and the library is not called.
    {
        PropVariant value(CountingClear);
        EXPECT_EQ(value.put()->vt, VT_EMPTY);
    }
    EXPECT_EQ(gClears, 3);
}

} // namespace
} // namespace halyard::sevenzip
