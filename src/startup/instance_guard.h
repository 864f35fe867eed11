// The one-agent-per-operator check: the front end's way to take the
// operator's instance lock in the work folder and to wake the agent that
// holds it.
#pragma once

#include <string>

namespace velarion {

class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;
    // Takes the instance lock of the agent named `name` in the work folder
    // `work_dir` ("" when the operator has none); true when another agent
    // holds it.
    virtual bool another_running(const std::string& work_dir, const std::string& name) = 0;
    // Brings the window of the agent found by another_running() to the front.
    virtual void raise_other() = 0;
    // Why another_running() could not tell ("" when it could, or when the
    // front end runs on without the lock): "<file>: <reason>".
    virtual std::string trouble() const { return ""; }
};

// The operator code as a part of file names: upper case (the operators "ab"
// and "AB" are one), every character but letters, digits, "-" and "_" as "_".
std::string instance_name(const std::string& ope);

}  // namespace velarion
