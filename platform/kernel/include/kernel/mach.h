// The kernel's basic types, return codes and ports: the host port, the task port,
// the default processor set, and release of memory that a kernel query handed out.
#pragma once

#include <cstddef>
#include <cstdint>

using kern_return_t = int;
using natural_t = std::uint32_t;
using integer_t = std::int32_t;
using mach_port_t = natural_t;
using host_t = mach_port_t;
using vm_map_t = mach_port_t;
using processor_set_name_t = mach_port_t;
using mach_msg_type_number_t = natural_t;
using vm_address_t = std::uintptr_t;
using vm_size_t = std::size_t;

inline constexpr mach_port_t MACH_PORT_NULL = 0;

inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ADDRESS = 1;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;
inline constexpr kern_return_t KERN_RESOURCE_SHORTAGE = 6;
inline constexpr kern_return_t KERN_INVALID_HOST = 22;

// A short description of a return code ("(os/kern) successful", ...).
const char* mach_error_string(kern_return_t kr);

// The host port. The same name on every call.
host_t mach_host_self();
// The current task's port (the address space that vm_deallocate releases from).
vm_map_t mach_task_self();
// The default processor set of `host`.
kern_return_t processor_set_default(host_t host, processor_set_name_t* defaultSet);

// Releases a region that a kernel query returned (host_processor_info's array).
// `size` must be the size that was handed out; an unknown region or a wrong size
// gives KERN_INVALID_ADDRESS and releases nothing. A size of 0 does nothing.
kern_return_t vm_deallocate(vm_map_t task, vm_address_t address, vm_size_t size);
