// The id of the running process, asked of the kernel once and once more in
// a child made by fork, for names that must differ between processes.
#pragma once

#include <sys/types.h>

namespace velarion {

pid_t process_id();

}  // namespace velarion
