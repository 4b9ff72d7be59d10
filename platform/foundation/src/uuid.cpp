#include "foundation/uuid.h"

#include <uuid/uuid.h>

namespace NSUUID {

std::string UUIDString() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return text;
}

}  // namespace NSUUID
