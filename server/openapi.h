// The OpenAPI 3 document of every route, body and answer.
#pragma once

#include "server/core/job_service.h"

namespace zuvsrv {

const Json& OpenApiDocument();

}  // namespace zuvsrv
