#pragma once
// A gate that holds a child back until the test lets it through: a named pipe that the
// child's shell opens for reading (`read x < "$gate"`, or `cat "$gate"`). Opening a FIFO for
// reading blocks until someone opens it for writing, so the child waits exactly until open()
// below, and then reads end of file and goes on. This replaces a sleep in the child, which
// only makes it likely that the test's side has happened first.

#include <string>

#include "support/run.h"

namespace tovrel::exec::testing {

class Gate {
 public:
  Gate();
  // Lets through a child already waiting at the gate, where a failed assertion left it shut.
  // It cannot wait: a child that has not reached the gate yet stays held there for good.
  ~Gate();
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

  const std::string& path() const { return path_; }
  // Waits until a child has reached the gate, then lets it through. Call it only once the
  // child is sure to come: it waits as long as it takes.
  void open();

 private:
  test::TempDir dir_;
  std::string path_;
  bool opened_ = false;
};

}  // namespace tovrel::exec::testing
