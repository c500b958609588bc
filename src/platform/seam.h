#pragma once

// Every group of platform operations is an interface with one real
// implementation; tests put a fake in its place for as long as a
// ScopedFake lives. Nothing is owned here: the real implementations are
// function-local statics, the fakes belong to the test.

namespace platform {

template <class Api>
Api& realImplementation();  // defined beside each real implementation

template <class Api>
struct Seam {
    static inline Api* override_ = nullptr;
};

template <class Api>
Api& use()
{
    return Seam<Api>::override_ ? *Seam<Api>::override_ : realImplementation<Api>();
}

template <class Api>
class ScopedFake {
public:
    explicit ScopedFake(Api& fake) : previous_(Seam<Api>::override_) { Seam<Api>::override_ = &fake; }
    ~ScopedFake() { Seam<Api>::override_ = previous_; }
    ScopedFake(const ScopedFake&) = delete;
    ScopedFake& operator=(const ScopedFake&) = delete;

private:
    Api* previous_;
};

}  // namespace platform
