// Runable: a small heap task, the unit of work that worker threads run, that
// the UI-thread dispatcher delivers and that UI timers tick. Whoever holds a
// task calls release() exactly once when done with it (never `delete`).
//
//   UiDispatcher::post(owner.key(), new FunctionRunable([this, percent] { showProgress(percent); }));
//   thread.start(new MemberFuncRunable(this, &BXDownloaderModel::_threadGetPlayerUrl));
//   thread.start(new MemberFuncRunable1(this, &BXDownloaderModel::_threadCheckMainExe, false));
//
// A task never owns the objects it points to; they must outlive it.
#pragma once

#include <type_traits>
#include <utility>

class Runable {
 public:
  // Destroys the task and frees its memory.
  virtual void release() { delete this; }

 protected:
  virtual ~Runable() = default;

 public:
  // Performs the task; timer tasks run again on every tick.
  virtual void run() = 0;
};

// Runs a callable object; its captured values are copied (or moved) in.
template <class F>
class FunctionRunable final : public Runable {
 public:
  explicit FunctionRunable(F function) : function_(std::move(function)) {}
  void run() override { function_(); }

 private:
  F function_;
};

// Calls a member function without arguments on an object.
template <class T>
class MemberFuncRunable final : public Runable {
 public:
  using Method = void (T::*)();
  MemberFuncRunable(T* object, Method method) : object_(object), method_(method) {}
  void run() override { (object_->*method_)(); }

 private:
  T* object_;
  Method method_;
};

// Calls a member function with one stored argument on an object.
template <class T, class A>
class MemberFuncRunable1 final : public Runable {
 public:
  using Method = void (T::*)(A);
  using Stored = std::decay_t<A>;
  MemberFuncRunable1(T* object, Method method, std::type_identity_t<Stored> argument)
      : object_(object), method_(method), argument_(std::move(argument)) {}
  void run() override { (object_->*method_)(argument_); }

 private:
  T* object_;
  Method method_;
  Stored argument_;
};

template <class T>
MemberFuncRunable(T*, void (T::*)()) -> MemberFuncRunable<T>;
template <class T, class A, class V>
MemberFuncRunable1(T*, void (T::*)(A), V) -> MemberFuncRunable1<T, A>;
