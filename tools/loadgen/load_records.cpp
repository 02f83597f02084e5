#include "tools/loadgen/load_records.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace pelorin::loadgen {
namespace {

double epoch_ms(std::chrono::system_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}

}  // namespace

std::string record_line(const RequestRecord& r) {
    const nlohmann::ordered_json line = {
        {"worker", r.worker},
        {"behaviour", behaviour_name(r.behaviour)},
        {"call", call_name(r.call)},
        {"server", r.server},
        {"sent_ms", epoch_ms(r.reply.sent)},
        {"done_ms", epoch_ms(r.reply.done)},
        {"latency_ms", r.reply.latency_ms},
        {"status", r.reply.status},
        {"error", r.reply.error},
        {"retry_after", r.reply.retry_after ? nlohmann::ordered_json(r.reply.retry_after->count()) : nullptr},
        {"lease_id", r.note.lease_id},
        {"begin", r.note.begin},
        {"end", r.note.end},
        {"repeat", r.note.repeat},
        {"wrong", r.note.wrong},
        {"reply", r.reply.body},
    };
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

RecordWriter::RecordWriter(const std::filesystem::path& file) : file_(file) {
    if (file_.empty()) return;
    out_.open(file_, std::ios::binary | std::ios::trunc);
    if (!out_) throw std::runtime_error("cannot write the records to " + file_.string());
}

void RecordWriter::write(const RequestRecord& record) {
    if (file_.empty()) return;
    out_ << record_line(record);
    if (!out_) throw std::runtime_error("cannot write the records to " + file_.string());
}

void RecordWriter::close() {
    if (file_.empty()) return;
    out_.close();
    if (!out_) throw std::runtime_error("cannot write the records to " + file_.string());
}

}  // namespace pelorin::loadgen
