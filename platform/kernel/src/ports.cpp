#include <cstdlib>
#include <cstring>

#include "internal.h"
#include "kernel/mach.h"

namespace kernel::detail {

KernelState& state() {
  static KernelState* s = new KernelState;
  return *s;
}

}  // namespace kernel::detail

using namespace kernel::detail;

const char* mach_error_string(kern_return_t kr) {
  switch (kr) {
    case KERN_SUCCESS: return "(os/kern) successful";
    case KERN_INVALID_ADDRESS: return "(os/kern) invalid address";
    case KERN_INVALID_ARGUMENT: return "(os/kern) invalid argument";
    case KERN_FAILURE: return "(os/kern) failure";
    case KERN_RESOURCE_SHORTAGE: return "(os/kern) resource shortage";
    case KERN_INVALID_HOST: return "(os/kern) invalid host";
    default: return "(os/kern) unknown error code";
  }
}

host_t mach_host_self() { return kHostPort; }

vm_map_t mach_task_self() { return kTaskPort; }

kern_return_t processor_set_default(host_t host, processor_set_name_t* defaultSet) {
  if (host != kHostPort) return KERN_INVALID_HOST;
  if (!defaultSet) return KERN_INVALID_ARGUMENT;
  *defaultSet = kDefaultProcessorSet;
  return KERN_SUCCESS;
}

kern_return_t vm_deallocate(vm_map_t task, vm_address_t address, vm_size_t size) {
  if (task != kTaskPort) return KERN_INVALID_ARGUMENT;
  if (size == 0) return KERN_SUCCESS;
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  auto it = s.allocations.find(address);
  if (it == s.allocations.end() || it->second != size) return KERN_INVALID_ADDRESS;
  s.allocations.erase(it);
  std::free(reinterpret_cast<void*>(address));
  return KERN_SUCCESS;
}
