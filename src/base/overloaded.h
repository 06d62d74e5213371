#pragma once
// Overloaded{lambdas...}: one visitor for std::visit built from several lambdas.

namespace tovrel::base {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace tovrel::base
