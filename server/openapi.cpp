// The API document, built from the command rows and the route table: one
// operation per command with its own argument and result schemas, and the
// job as a union over the commands, so that a generated client is as strict
// as the service.
#include "server/openapi.h"

#include <algorithm>

#include "commands/catalogue.h"
#include "commands/labels.h"
#include "server/http_reply.h"
#include "server/http_service.h"
#include "server/metrics_text.h"
#include "server/request_checks.h"

#ifndef ZUV_SERVER_VERSION
#define ZUV_SERVER_VERSION "unknown"
#endif

namespace zuvsrv {
namespace {

using zuvcmd::CommandInfo;

constexpr const char* kCommandRoute = "/v1/printers/{id}/{command}";
constexpr const char* kDetectRoute = "/v1/printers/{id}/detect";

// What the workers and the journal write in a job's error and a printer's
// last_error ("stopped": the service stopped during the exchange).
const std::vector<std::string> kJobErrorKinds = {"input", "port", "link", "printer", "stopped"};

// Every HTTP error the service answers, with its kind.
struct ErrorAnswer {
  int code;
  const char* kind;
  const char* description;
};
const std::vector<ErrorAnswer>& ErrorAnswers() {
  static const std::vector<ErrorAnswer> answers = {
      {status::kBadRequest, kind::kInput, "Bad input, named by error.field; nothing was queued"},
      {status::kUnauthorized, kind::kAuth, "Missing or wrong bearer token; nothing was queued"},
      {status::kForbidden, kind::kOrigin, "A browser origin the service does not allow"},
      {status::kNotFound, kind::kNotFound, "Unknown printer, command, job or route"},
      {status::kMethodNotAllowed, kind::kMethod,
       "The path with a method it does not take (this one is listed for the path); Allow lists them"},
      {status::kConflict, kind::kConflict,
       "Idempotency key reused with another request, or the job is not in doubt"},
      {status::kPayloadTooLarge, kind::kTooLarge, "Body over 1 MiB"},
      {status::kUnsupportedMediaType, kind::kMediaType, "A body that is not application/json"},
      {status::kMisdirected, kind::kHost, "A Host header the service does not answer to"},
      {status::kHeadersTooLarge, kind::kHeadersTooLarge, "Request headers over the service's limit"},
      {status::kInternalError, kind::kInternal, "A fault of the service; the journal says what was done"},
      {status::kUnavailable, kind::kUnavailable, "The service is stopping or has no room for the connection"},
  };
  return answers;
}

Json Ref(const std::string& name) { return {{"$ref", "#/components/schemas/" + name}}; }
Json Nullable(const Json& schema) { return {{"oneOf", {schema, {{"type", "null"}}}}}; }
Json NullableText(const char* format = nullptr) {
  Json s = {{"type", {"string", "null"}}};
  if (format) s["format"] = format;
  return s;
}

// "z-report" -> "ZReport": component names and operation ids.
std::string Pascal(const std::string& name) {
  std::string out;
  bool up = true;
  for (char c : name) {
    if (c == '-') {
      up = true;
      continue;
    }
    out += up ? char(std::toupper(static_cast<unsigned char>(c))) : c;
    up = false;
  }
  return out;
}
std::string Camel(const std::string& name) {
  std::string out = Pascal(name);
  out[0] = char(std::tolower(static_cast<unsigned char>(out[0])));
  return out;
}

std::vector<std::string> Names(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

Json LabelsJson(const zuvcmd::Labels& labels) { return {{"en", labels.en}, {"sr", labels.sr}}; }

// The rows' labels on a schema made from `schema`, for forms and results
// built from the document: each field's "title" and "x-labels", each enum
// value's in "x-value-labels", and "x-format": "money" on amounts.
void AddLabels(const zuvcmd::Schema& schema, Json& out) {
  using Kind = zuvcmd::Schema::Kind;
  switch (schema.kind) {
    case Kind::Object:
      for (const zuvcmd::Field& f : schema.fields) {
        Json& property = out["properties"][f.name];
        if (const zuvcmd::Labels* labels = zuvcmd::FieldLabel(f.name)) {
          property["title"] = labels->en;
          property["x-labels"] = LabelsJson(*labels);
        }
        AddLabels(f.schema, property);
      }
      break;
    case Kind::Array: AddLabels(schema.items.front(), out["items"]); break;
    case Kind::Money: out["x-format"] = "money"; break;
    case Kind::Enum:
      for (const std::string& value : schema.values)
        if (const zuvcmd::Labels* labels = zuvcmd::ValueLabel(value))
          out["x-value-labels"][value] = LabelsJson(*labels);
      break;
    default: break;
  }
}

Json LabelledSchema(const zuvcmd::Schema& schema) {
  Json out = zuvcmd::ToJsonSchema(schema);
  AddLabels(schema, out);
  return out;
}

Json ArgsSchema(const CommandInfo& info) {
  Json schema = LabelledSchema(info.args);
  if (!info.rules.empty())
    schema["description"] = schema.value("description", std::string()) +
                            (schema.contains("description") ? " " : "") + "Also: " + info.rules + ".";
  if (info.argsSchemaExtra.is_object())
    for (const auto& [key, value] : info.argsSchemaExtra.items()) schema[key] = value;
  return schema;
}

// What a command's body takes: its arguments and `strict`.
Json RequestSchema(const CommandInfo& info) {
  Json schema = ArgsSchema(info);
  schema["properties"][kStrictField] = {
      {"type", "boolean"},
      {"description",
       "true: a text argument with characters the printer cannot print is refused (400) and "
       "nothing is queued; otherwise the job is queued, they are sent as '?', and the job's "
       "warnings name them (false when left out)"}};
  return schema;
}

// The settlement of a job settled by a counter or a person.
Json SettlementSchema(const Json& reading) {
  return {{"type", "object"},
          {"description",
           "How a job in doubt was settled: the counter readings before and after, a person's "
           "note, and the error that left it in doubt"},
          {"properties",
           {{"before", Nullable(reading)},
            {"after", Nullable(reading)},
            {"note", {{"type", "string"}}},
            {"cause", Ref("JobError")}}},
          {"additionalProperties", false}};
}

// One job of one command: `command` is its discriminator.
Json JobSchema(const std::string& command, const Json& args, const Json& result,
               const Json& settlement, const std::string& description) {
  return {{"type", "object"},
          {"description", description},
          {"required",
           {"id", "printer", "command", "args", "state", "created", "started", "finished", "result",
            "error", "settled_by", "settled_at", "settlement", "warnings"}},
          {"properties",
           {{"id", {{"type", "integer"}, {"minimum", 1}}},
            {"printer", {{"type", "string"}}},
            {"command", {{"type", "string"}, {"enum", {command}}}},
            {"args", args},
            {"state", Ref("JobState")},
            {"created", {{"type", "string"}, {"format", "date-time"}}},
            {"started", NullableText("date-time")},
            {"finished", NullableText("date-time")},
            {"result", Nullable(result)},
            {"error", Nullable(Ref("JobError"))},
            {"settled_by", {{"type", {"string", "null"}}, {"enum", {"counter", "person", nullptr}}}},
            {"settled_at", NullableText("date-time")},
            {"settlement", Nullable(settlement)},
            {"warnings",
             {{"type", "array"},
              {"items", {{"type", "string"}}},
              {"description",
               "Each text argument with characters the printer cannot print (sent as '?'): the "
               "field and the characters"}}}}},
          {"additionalProperties", false}};
}

Json DetectResultSchema() {
  const Json baud = {{"type", {"integer", "null"}}, {"description", "null for a tcp:// port"}};
  const Json note = {
      {"type", "object"},
      {"required", {"port", "finding", "baud", "detail"}},
      {"properties",
       {{"port", {{"type", "string"}}},
        {"finding", {{"type", "string"}}},
        {"baud", baud},
        {"detail", {{"type", "string"}}}}},
      {"additionalProperties", false}};
  return {{"type", "object"},
          {"required", {"port", "configured_baud", "elapsed_ms", "ports"}},
          {"properties",
           {{"port", {{"type", "string"}}},
            {"baud", baud},
            {"configured_baud", {{"type", "integer"}}},
            {"elapsed_ms", {{"type", "integer"}, {"minimum", 0}}},
            {"ports", {{"type", "array"}, {"items", note}}}}},
          {"additionalProperties", false}};
}

// The schemas every route shares: states, errors, the printer.
void AddCommonSchemas(Json& schemas) {
  schemas["JobState"] = {{"type", "string"}, {"enum", Names(JobStateNames())}};
  schemas["JobError"] = {
      {"type", "object"},
      {"required", {"kind", "code", "message"}},
      {"properties",
       {{"kind", {{"type", "string"}, {"enum", kJobErrorKinds}}},
        {"code", {{"type", "integer"}, {"description", "The driver's error code; a printer error above 0"}}},
        {"message", {{"type", "string"}}}}},
      {"additionalProperties", false}};
  Json kinds = Json::array();
  for (const ErrorAnswer& answer : ErrorAnswers()) kinds.push_back(answer.kind);
  schemas["Error"] = {
      {"type", "object"},
      {"required", {"ok", "error"}},
      {"properties",
       {{"ok", {{"type", "boolean"}, {"enum", {false}}}},
        {"error",
         {{"type", "object"},
          {"required", {"kind", "message"}},
          {"properties",
           {{"kind", {{"type", "string"}, {"enum", kinds}}},
            {"field", {{"type", "string"}}},
            {"message", {{"type", "string"}}}}},
          {"additionalProperties", false}}}}},
      {"additionalProperties", false}};
  schemas["Printer"] = {
      {"type", "object"},
      {"required", {"id", "port", "baud", "state", "queue_length", "last_error"}},
      {"properties",
       {{"id", {{"type", "string"}}},
        {"port", {{"type", "string"}}},
        {"baud", {{"type", {"integer", "null"}}, {"description", "The speed in use; null for a tcp:// port"}}},
        {"state", {{"type", "string"}, {"enum", Names(PrinterStateNames())}}},
        {"queue_length", {{"type", "integer"}, {"minimum", 0}}},
        {"last_error", Nullable(Ref("JobError"))}}},
      {"additionalProperties", false}};
  schemas["NoArguments"] = {{"type", "object"}, {"maxProperties", 0}, {"additionalProperties", false}};
}

// Each command's arguments, result and job, the job union over them, and
// the events that carry jobs and printers.
void AddJobSchemas(Json& schemas) {
  Json variants = Json::array();
  Json mapping = Json::object();
  for (const CommandInfo& info : zuvcmd::Catalogue()) {
    const std::string name = Pascal(info.name);
    schemas[name + "Args"] = ArgsSchema(info);
    schemas[name + "Request"] = RequestSchema(info);
    schemas[name + "Result"] = LabelledSchema(info.result);
    schemas[name + "Job"] =
        JobSchema(info.name, Ref(name + "Args"), Ref(name + "Result"),
                  SettlementSchema(LabelledSchema(zuvcmd::CounterSchema(info.counter))),
                  "A " + info.name + " job");
    variants.push_back(Ref(name + "Job"));
    mapping[info.name] = "#/components/schemas/" + name + "Job";
  }
  schemas["DetectResult"] = DetectResultSchema();
  schemas["DetectJob"] = JobSchema(kDetectCommand, Ref("NoArguments"), Ref("DetectResult"),
                                   SettlementSchema(zuvcmd::ToJsonSchema(zuvcmd::Object({}))),
                                   "A detect job: never in doubt");
  variants.push_back(Ref("DetectJob"));
  mapping[kDetectCommand] = "#/components/schemas/DetectJob";
  schemas["Job"] = {{"oneOf", variants},
                    {"discriminator", {{"propertyName", "command"}, {"mapping", mapping}}}};
  schemas["JobEvent"] = {{"type", "object"},
                         {"required", {"event", "data"}},
                         {"properties",
                          {{"event", {{"type", "string"}, {"enum", {"job"}}}},
                           {"id", {{"type", "string"}}},
                           {"data", Ref("Job")}}}};
  schemas["PrinterEvent"] = {{"type", "object"},
                             {"required", {"event", "data"}},
                             {"properties",
                              {{"event", {{"type", "string"}, {"enum", {"printer"}}}},
                               {"id", {{"type", "string"}}},
                               {"data", Ref("Printer")}}}};
  schemas["Event"] = {{"oneOf", {Ref("JobEvent"), Ref("PrinterEvent")}},
                      {"discriminator", {{"propertyName", "event"}}}};
}

void AddResponses(Json& responses) {
  for (const ErrorAnswer& answer : ErrorAnswers()) {
    Json response = {{"description", answer.description},
                     {"content", {{kJsonType, {{"schema", Ref("Error")}}}}}};
    if (answer.code == status::kUnauthorized)
      response["headers"] = {{"WWW-Authenticate", {{"schema", {{"type", "string"}, {"enum", {"Bearer"}}}}}}};
    if (answer.code == status::kMethodNotAllowed)
      response["headers"] = {{"Allow", {{"schema", {{"type", "string"}}}}}};
    responses[std::to_string(answer.code)] = response;
  }
}

Json Parameters() {
  return {
      {"PrinterId",
       {{"name", "id"}, {"in", "path"}, {"required", true}, {"description", "The printer's id in the configuration"},
        {"schema", {{"type", "string"}, {"minLength", 1}}}, {"example", "till-1"}}},
      {"JobId",
       {{"name", "id"}, {"in", "path"}, {"required", true},
        {"schema", {{"type", "integer"}, {"minimum", 1}}}, {"example", 42}}},
      {"Wait",
       {{"name", "wait"}, {"in", "query"},
        {"description", "Milliseconds to wait for the outcome; 0 answers at once (202 while queued or running)"},
        {"schema", {{"type", "integer"}, {"minimum", 0}, {"maximum", kMaxWait.count()},
                    {"default", kDefaultWait.count()}}}}},
      {"IdempotencyKey",
       {{"name", kIdempotencyHeader}, {"in", "header"},
        {"description", "Binds the request to one job: a repeat returns that job and sends nothing"},
        {"schema", {{"type", "string"}, {"minLength", 1}, {"maxLength", kMaxIdempotencyKey},
                    {"pattern", "^[!-~]+$"}}},
        {"example", "till-1-sale-99"}}},
  };
}

Json ParamRef(const char* name) { return {{"$ref", std::string("#/components/parameters/") + name}}; }

// The errors every route may answer, and those of token routes and bodies.
Json ErrorsOf(bool token, bool body, std::initializer_list<int> more) {
  std::vector<int> codes = {status::kMethodNotAllowed, status::kMisdirected, status::kHeadersTooLarge,
                            status::kInternalError, status::kUnavailable};
  if (token) codes.insert(codes.end(), {status::kUnauthorized, status::kForbidden});
  if (body) codes.insert(codes.end(), {status::kBadRequest, status::kPayloadTooLarge, status::kUnsupportedMediaType});
  codes.insert(codes.end(), more);
  std::sort(codes.begin(), codes.end());
  Json out = Json::object();
  for (int code : codes) out[std::to_string(code)] = {{"$ref", "#/components/responses/" + std::to_string(code)}};
  return out;
}

Json JsonContent(const Json& schema) { return {{kJsonType, {{"schema", schema}}}}; }

// A POST that queues a job whose schema is `job`.
Json JobOperation(const std::string& id, const std::string& summary, const std::string& description,
                  const Json& body, bool bodyRequired, const std::string& job) {
  const Json location = {{"description", "The job's own URL"}, {"schema", {{"type", "string"}}}};
  const Json replayed = {{"description", "Present when an earlier request with the same key made the job"},
                         {"schema", {{"type", "string"}, {"enum", {"true"}}}}};
  Json responses = {
      {"200", {{"description", "The job, finished or in doubt"},
               {"headers", {{"Location", location}, {"Idempotent-Replayed", replayed}}},
               {"content", JsonContent(Ref(job))}}},
      {"202", {{"description", "The job, still queued or running"},
               {"headers", {{"Location", location}, {"Idempotent-Replayed", replayed}}},
               {"content", JsonContent(Ref(job))}}}};
  responses.update(ErrorsOf(true, true, {status::kNotFound, status::kConflict}));
  return {{"tags", {"printers"}},
          {"operationId", id},
          {"summary", summary},
          {"description", description},
          {"parameters", {ParamRef("PrinterId"), ParamRef("Wait"), ParamRef("IdempotencyKey")}},
          {"requestBody", {{"required", bodyRequired}, {"content", JsonContent(body)}}},
          {"responses", responses}};
}

std::string CommandDescription(const CommandInfo& info) {
  std::string text = "Runs " + info.name + ": " + info.help + ".";
  if (info.printerCommand != zuvcmd::kAnyCommand)
    text += " Printer command " + std::to_string(info.printerCommand) + ".";
  text += " Effect: " + std::string(zuvcmd::EffectName(info.effect)) + ".";
  if (info.effect == zuvcmd::Effect::Read)
    text += " A lost reply fails the job; it is safe to repeat.";
  else if (info.counter != zuvcmd::Counter::None)
    text += " A lost reply leaves the job in doubt until the printer's counter settles it.";
  else
    text += " A lost reply leaves the job in doubt until a person resolves it.";
  if (info.confirm) text += " The tool asks first: \"" + info.question + "\"";
  return text;
}

Json CommandOperation(const CommandInfo& info) {
  const std::string name = Pascal(info.name);
  Json operation = JobOperation(Camel(info.name), info.label.en, CommandDescription(info),
                                Ref(name + "Request"),
                                !info.args.fields.empty(), name + "Job");
  operation["x-label-sr"] = info.label.sr;
  // What a client builds its own forms from, in the rows' words.
  operation["x-command"] = info.name;
  operation["x-labels"] = LabelsJson(info.label);
  operation["x-effect"] = zuvcmd::EffectName(info.effect);
  operation["x-help"] = info.help;
  if (info.confirm) operation["x-confirm"] = info.question;
  return operation;
}

Json Get(const char* id, const char* tag, const char* summary, const Json& ok, bool token,
         std::initializer_list<int> more = {}) {
  Json responses = {{"200", ok}};
  responses.update(ErrorsOf(token, false, more));
  Json operation = {{"tags", {tag}}, {"operationId", id}, {"summary", summary}, {"responses", responses}};
  if (!token) operation["security"] = Json::array();
  return operation;
}

std::string HeartbeatSeconds() {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(HttpSettings{}.eventHeartbeat).count());
}

Json EventsOperation() {
  Json operation = Get(
      "events", "service", "Server-Sent Events of every job and printer change",
      {{"description",
        "The event stream. Each event is 'event: job' (data: the Job) or 'event: printer' (data: "
        "the Printer), with an 'id:' line; a client that reconnects with Last-Event-ID gets the "
        "events it missed. A first comment line says the stream is live, and a comment line "
        "(':') every " + HeartbeatSeconds() + " s keeps it open."},
       {"content",
        {{"text/event-stream",
          {{"schema", {{"type", "string"}, {"contentMediaType", "text/event-stream"},
                       {"contentSchema", Ref("Event")}}}}}}}},
      true);
  operation["parameters"] = {{{"name", "Last-Event-ID"}, {"in", "header"},
                              {"description", "The id of the last event received"},
                              {"schema", {{"type", "string"}}}}};
  return operation;
}

Json ListJobsOperation() {
  Json operation = Get("listJobs", "jobs", "Jobs, newest first",
                       {{"description", "The jobs"},
                        {"content", JsonContent({{"type", "object"}, {"required", {"jobs"}},
                                                 {"properties", {{"jobs", {{"type", "array"}, {"items", Ref("Job")}}}}},
                                                 {"additionalProperties", false}})}},
                       true, {status::kBadRequest, status::kNotFound});
  operation["parameters"] = {
      {{"name", "state"}, {"in", "query"}, {"schema", Ref("JobState")}},
      {{"name", "printer"}, {"in", "query"}, {"schema", {{"type", "string"}}}},
      {{"name", "limit"}, {"in", "query"},
       {"schema", {{"type", "integer"}, {"minimum", 1}, {"maximum", kMaxListLimit}, {"default", kDefaultListLimit}}}}};
  return operation;
}

// The service reads outcome and note and passes over other fields, so the
// body's schema allows them too.
Json ResolveOperation() {
  Json responses = {{"200", {{"description", "The settled job"}, {"content", JsonContent(Ref("Job"))}}}};
  responses.update(ErrorsOf(true, true, {status::kNotFound, status::kConflict}));
  const Json body = {{"type", "object"},
                     {"required", {"outcome"}},
                     {"properties",
                      {{"outcome", {{"type", "string"}, {"enum", {"done", "not-done"}}}},
                       {"note", {{"type", {"string", "null"}}}}}}};
  return {{"tags", {"jobs"}},
          {"operationId", "resolveJob"},
          {"summary", "A person settles a job in doubt"},
          {"parameters", {ParamRef("JobId")}},
          {"requestBody", {{"required", true}, {"content", JsonContent(body)}}},
          {"responses", responses}};
}

// The operations of one route of the table.
Json RouteOperations(const RouteInfo& route) {
  const std::string& path = route.path;
  if (path == "/healthz")
    return Get("health", "service", "The service is up",
               {{"description", "Up"},
                {"content", JsonContent({{"type", "object"}, {"required", {"ok"}},
                                         {"properties", {{"ok", {{"type", "boolean"}, {"enum", {true}}}}}},
                                         {"additionalProperties", false}})}},
               route.needsToken);
  if (path == "/metrics")
    return Get("metrics", "service", "Prometheus text exposition",
               {{"description", "Jobs by printer and state, queue depth, in-doubt count, exchange time histogram"},
                {"content", {{kMetricsType, {{"schema", {{"type", "string"}}}}}}}},
               route.needsToken);
  if (path == "/v1/openapi.json")
    return Get("openApiDocument", "service", "This document",
               {{"description", "OpenAPI 3.1 document"}, {"content", JsonContent({{"type", "object"}})}},
               route.needsToken);
  if (path == "/v1/printers")
    return Get("listPrinters", "printers", "Every printer with its state and queue",
               {{"description", "The printers"},
                {"content", JsonContent({{"type", "object"}, {"required", {"printers"}},
                                         {"properties", {{"printers", {{"type", "array"}, {"items", Ref("Printer")}}}}},
                                         {"additionalProperties", false}})}},
               route.needsToken);
  if (path == kDetectRoute)
    return JobOperation("detect", "Detect the printer's speed",
                        "The printer's worker closes its port, tries it at every speed, fastest first (a "
                        "tcp:// port once: its device server sets the speed), and opens it again at the speed "
                        "found, used until the service stops. Only connection tests are sent: the job ends "
                        "done or failed, never in doubt.",
                        Ref("NoArguments"), false, "DetectJob");
  if (path == "/v1/jobs") return ListJobsOperation();
  if (path == "/v1/jobs/{id}") {
    Json operation = Get("getJob", "jobs", "One job",
                         {{"description", "The job"}, {"content", JsonContent(Ref("Job"))}}, route.needsToken,
                         {status::kNotFound});
    operation["parameters"] = {ParamRef("JobId")};
    return operation;
  }
  if (path == "/v1/jobs/{id}/resolve") return ResolveOperation();
  if (path == "/v1/events") return EventsOperation();
  return nullptr;
}

Json Build() {
  Json document = {
      {"openapi", "3.1.0"},
      {"info",
       {{"title", "zuv print service"},
        {"description",
         "Every printer of a till over HTTP/JSON. HTTP codes describe the request; a job's state "
         "describes its outcome. Nothing is ever sent to a printer twice. Money is a decimal string "
         "with two places (\"199.80\")."},
        {"version", ZUV_SERVER_VERSION}}},
      {"servers",
       {{{"url", "http://{host}:{port}"},
         {"description", "The service; loopback unless configured otherwise"},
         {"variables", {{"host", {{"default", "127.0.0.1"}}}, {"port", {{"default", "8765"}}}}}}}},
      {"security", {{{"bearer", Json::array()}}}},
      {"tags",
       {{{"name", "printers"}, {"description", "The printers and the commands they run"}},
        {{"name", "jobs"}, {"description", "The journal of jobs and their settling"}},
        {{"name", "service"}, {"description", "Health, metrics, this document and the event stream"}}}},
      {"paths", Json::object()},
      {"components", {{"securitySchemes", {{"bearer", {{"type", "http"}, {"scheme", "bearer"}}}}},
                      {"parameters", Parameters()}}}};
  Json& paths = document["paths"];
  for (const RouteInfo& route : Routes()) {
    std::string method = route.method;
    for (char& c : method) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (route.path == kCommandRoute) {
      // One route serves every command; the document has one operation each.
      for (const CommandInfo& info : zuvcmd::Catalogue())
        paths["/v1/printers/{id}/" + info.name][method] = CommandOperation(info);
      continue;
    }
    paths[route.path][method] = RouteOperations(route);
  }
  AddCommonSchemas(document["components"]["schemas"]);
  AddJobSchemas(document["components"]["schemas"]);
  AddResponses(document["components"]["responses"]);
  return document;
}

}  // namespace

const Json& OpenApiDocument() {
  static const Json document = Build();
  return document;
}

}  // namespace zuvsrv
