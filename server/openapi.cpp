#include "server/openapi.h"

#include "cli/catalogue.h"

#ifndef ZUV_SERVER_VERSION
#define ZUV_SERVER_VERSION "unknown"
#endif

namespace zuvsrv {
namespace {

// The parts that do not depend on the command list.
constexpr const char* kDocument = R"json({
  "openapi": "3.0.3",
  "info": {
    "title": "zuv print service",
    "description": "Every printer of a till over HTTP/JSON. HTTP codes describe the request; a job's state describes its outcome. Nothing is ever sent to a printer twice.",
    "version": ""
  },
  "servers": [{"url": "/"}],
  "security": [{"bearer": []}],
  "paths": {
    "/healthz": {"get": {"summary": "The service is up", "security": [],
      "responses": {"200": {"description": "Up", "content": {"application/json": {"schema": {"type": "object", "properties": {"ok": {"type": "boolean"}}}}}},
        "503": {"description": "A printer cannot commit to the journal; the error names it"}}}},
    "/metrics": {"get": {"summary": "Prometheus text exposition", "security": [],
      "responses": {"200": {"description": "Jobs by printer and state, queue depth, in-doubt count, exchange time histogram", "content": {"text/plain": {"schema": {"type": "string"}}}}}}},
    "/v1/openapi.json": {"get": {"summary": "This document", "security": [],
      "responses": {"200": {"description": "OpenAPI 3 document", "content": {"application/json": {"schema": {"type": "object"}}}}}}},
    "/v1/printers": {"get": {"summary": "Every printer with its state and queue",
      "responses": {
        "200": {"description": "The printers", "content": {"application/json": {"schema": {"type": "object", "required": ["printers"], "properties": {"printers": {"type": "array", "items": {"$ref": "#/components/schemas/Printer"}}}}}}},
        "401": {"$ref": "#/components/responses/Unauthorized"}}}},
    "/v1/printers/{id}/{command}": {"post": {"summary": "Queue a command for a printer",
      "parameters": [
        {"name": "id", "in": "path", "required": true, "schema": {"type": "string"}},
        {"name": "command", "in": "path", "required": true, "schema": {"type": "string", "enum": []}},
        {"name": "wait", "in": "query", "description": "Milliseconds to wait for the outcome; 0 does not wait", "schema": {"type": "integer", "minimum": 0, "maximum": 600000, "default": 30000}},
        {"name": "Idempotency-Key", "in": "header", "description": "Binds the request to one job: a repeat returns that job and sends nothing", "schema": {"type": "string", "minLength": 1, "maxLength": 128, "pattern": "^[!-~]+$"}}],
      "requestBody": {"required": false, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Arguments"}}}},
      "responses": {
        "200": {"description": "The job, finished or in doubt", "headers": {"Location": {"schema": {"type": "string"}}, "Idempotent-Replayed": {"description": "true when an earlier request with the same key made the job", "schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Job"}}}},
        "202": {"description": "The job, still queued or running", "headers": {"Location": {"schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Job"}}}},
        "400": {"$ref": "#/components/responses/BadRequest"},
        "401": {"$ref": "#/components/responses/Unauthorized"},
        "404": {"$ref": "#/components/responses/NotFound"},
        "409": {"$ref": "#/components/responses/Conflict"},
        "413": {"$ref": "#/components/responses/TooLarge"}}}},
    "/v1/printers/{id}/detect": {"post": {"summary": "Find the speed the printer answers at on its own port",
      "description": "Queues a job with command 'detect'. The printer's worker closes its port, tries the configured port at every speed, fastest first (a tcp:// port once: its device server sets the speed), and opens the port again at the speed found, which it uses until the service stops. Only connection tests are sent: the job ends done or failed, never in doubt. Its result: port, baud (null for a tcp:// port), configured_baud, elapsed_ms and ports, one finding per port.",
      "parameters": [
        {"name": "id", "in": "path", "required": true, "schema": {"type": "string"}},
        {"name": "wait", "in": "query", "description": "Milliseconds to wait for the outcome; 0 does not wait", "schema": {"type": "integer", "minimum": 0, "maximum": 600000, "default": 30000}},
        {"name": "Idempotency-Key", "in": "header", "description": "Binds the request to one job: a repeat returns that job", "schema": {"type": "string", "minLength": 1, "maxLength": 128, "pattern": "^[!-~]+$"}}],
      "requestBody": {"required": false, "content": {"application/json": {"schema": {"type": "object", "maxProperties": 0}}}},
      "responses": {
        "200": {"description": "The detection job, finished", "headers": {"Location": {"schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Job"}}}},
        "202": {"description": "The detection job, still queued or running", "headers": {"Location": {"schema": {"type": "string"}}}, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Job"}}}},
        "400": {"$ref": "#/components/responses/BadRequest"},
        "401": {"$ref": "#/components/responses/Unauthorized"},
        "404": {"$ref": "#/components/responses/NotFound"},
        "409": {"$ref": "#/components/responses/Conflict"}}}},
    "/v1/jobs": {"get": {"summary": "Jobs, newest first",
      "parameters": [
        {"name": "state", "in": "query", "schema": {"$ref": "#/components/schemas/State"}},
        {"name": "printer", "in": "query", "schema": {"type": "string"}},
        {"name": "limit", "in": "query", "schema": {"type": "integer", "minimum": 1, "maximum": 1000, "default": 100}}],
      "responses": {
        "200": {"description": "The jobs", "content": {"application/json": {"schema": {"type": "object", "required": ["jobs"], "properties": {"jobs": {"type": "array", "items": {"$ref": "#/components/schemas/Job"}}}}}}},
        "400": {"$ref": "#/components/responses/BadRequest"},
        "401": {"$ref": "#/components/responses/Unauthorized"},
        "404": {"$ref": "#/components/responses/NotFound"}}}},
    "/v1/jobs/{id}": {"get": {"summary": "One job",
      "parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1}}],
      "responses": {
        "200": {"description": "The job", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Job"}}}},
        "401": {"$ref": "#/components/responses/Unauthorized"},
        "404": {"$ref": "#/components/responses/NotFound"}}}},
    "/v1/jobs/{id}/resolve": {"post": {"summary": "A person settles a job in doubt",
      "parameters": [{"name": "id", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1}}],
      "requestBody": {"required": true, "content": {"application/json": {"schema": {"type": "object", "required": ["outcome"], "properties": {"outcome": {"type": "string", "enum": ["done", "not-done"]}, "note": {"type": "string"}}}}}},
      "responses": {
        "200": {"description": "The settled job", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Job"}}}},
        "400": {"$ref": "#/components/responses/BadRequest"},
        "401": {"$ref": "#/components/responses/Unauthorized"},
        "404": {"$ref": "#/components/responses/NotFound"},
        "409": {"$ref": "#/components/responses/Conflict"}}}},
    "/v1/events": {"get": {"summary": "Server-Sent Events: 'event: job' for every job state change, 'event: printer' for every printer state change; data is the object",
      "responses": {
        "200": {"description": "The event stream", "content": {"text/event-stream": {"schema": {"type": "string"}}}},
        "401": {"$ref": "#/components/responses/Unauthorized"}}}}
  },
  "components": {
    "securitySchemes": {"bearer": {"type": "http", "scheme": "bearer"}},
    "schemas": {
      "State": {"type": "string", "enum": ["queued", "running", "done", "failed", "in-doubt", "not-done"]},
      "Job": {"type": "object", "required": ["id", "printer", "command", "args", "state"], "properties": {
        "id": {"type": "integer"}, "printer": {"type": "string"}, "command": {"type": "string"},
        "args": {"type": "object"}, "state": {"$ref": "#/components/schemas/State"},
        "created": {"type": "string", "format": "date-time"},
        "started": {"type": "string", "format": "date-time", "nullable": true},
        "finished": {"type": "string", "format": "date-time", "nullable": true},
        "result": {"type": "object", "nullable": true, "description": "The fields zuv --json prints"},
        "error": {"type": "object", "nullable": true, "properties": {"kind": {"type": "string"}, "code": {"type": "integer"}, "message": {"type": "string"}}},
        "settled_by": {"type": "string", "nullable": true, "enum": ["counter", "person", null]},
        "settlement": {"type": "object", "nullable": true}}},
      "Printer": {"type": "object", "required": ["id", "state"], "properties": {
        "id": {"type": "string"}, "port": {"type": "string"},
        "baud": {"type": "integer", "nullable": true, "description": "The speed in use; null for a tcp:// port"},
        "state": {"type": "string", "enum": ["idle", "busy", "offline", "journal"]},
        "queue_length": {"type": "integer"}, "last_error": {"type": "object", "nullable": true}}},
      "Arguments": {"type": "object", "description": "The command's arguments, as the zuv tool takes them; a command without arguments takes {} or no body", "properties": {
        "type": {"type": "string"}, "amount": {"type": "string"}, "from": {"type": "string"}, "to": {"type": "string"},
        "articles": {"type": "array", "items": {"type": "object", "properties": {"code": {"type": "integer"}, "name": {"type": "string"}, "unit": {"type": "integer"}, "tax": {"type": "integer"}, "price": {"type": "string"}}}},
        "codes": {"type": "array", "items": {"type": "integer"}},
        "code": {"type": "integer"}, "price": {"type": "string"},
        "lines": {"type": "array", "items": {"type": "string"}}, "width": {"type": "integer"},
        "command": {"type": "integer"}, "data": {"type": "string"}, "long": {"type": "boolean"}}},
      "Error": {"type": "object", "required": ["ok", "error"], "properties": {
        "ok": {"type": "boolean"},
        "error": {"type": "object", "required": ["kind", "message"], "properties": {"kind": {"type": "string"}, "field": {"type": "string"}, "message": {"type": "string"}}}}}
    },
    "responses": {
      "BadRequest": {"description": "Bad input; nothing was queued", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "Unauthorized": {"description": "Missing or wrong token; nothing was queued", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "NotFound": {"description": "Unknown printer, command or job", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "Conflict": {"description": "Idempotency key reused with another request, or the job is not in doubt", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}},
      "TooLarge": {"description": "Body over 1 MiB", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}}
    }
  }
})json";

Json Build() {
  Json document = Json::parse(kDocument);
  document["info"]["version"] = ZUV_SERVER_VERSION;
  Json& names = document["paths"]["/v1/printers/{id}/{command}"]["post"]["parameters"][1]["schema"]["enum"];
  for (const zuvcli::CommandInfo& info : zuvcli::Catalogue()) names.push_back(info.name);
  return document;
}

}  // namespace

const Json& OpenApiDocument() {
  static const Json document = Build();
  return document;
}

}  // namespace zuvsrv
