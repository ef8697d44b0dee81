// SPDX-License-Identifier: MIT
// module.cpp - tavik._tavik, the compiled half of the Python package.
//
// Models are shared freely (they never change); every session is owned by
// one Python object or one worker thread.  Single identifications keep the
// interpreter lock, which also serialises calls on one Session object;
// identify_many releases it and runs one session per thread.  Failures
// travel as Failure and become tavik.Error subclasses, built by
// tavik._types so that the classes live in Python where users see them.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sched.h>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "embedded_profile.h"
#include "engine.h"
#include "model_file.h"
#include "outcome.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"

namespace py = pybind11;

namespace {

// A failed call: the status, the library's error text, and the index of the
// item of identify_many it concerns (-1 for none).
struct Failure {
    int32_t status;
    std::string message;
    Py_ssize_t index = -1;
};

[[noreturn]] void fail(int32_t status, std::string message, Py_ssize_t index = -1) {
    throw Failure{status, std::move(message), index};
}

struct ModelFree {
    void operator()(tavik_model *m) const { tavik_model_free(m); }
};
struct SessionFree {
    void operator()(tavik_session *s) const { tavik_session_free(s); }
};
using ModelPtr = std::shared_ptr<tavik_model>;
using SessionPtr = std::unique_ptr<tavik_session, SessionFree>;

// The settings a caller may give with a call; unset ones keep the
// session's defaults (those the profile header chose).
struct Settings {
    std::optional<int32_t> min_ngrams;
    std::optional<double> min_margin;
    std::optional<bool> size_penalty;
    std::optional<int32_t> max_ngram_length;
    std::optional<int32_t> max_distribution;
    std::optional<int32_t> occurance_threshold;
    std::optional<std::string> candidates;  // comma-separated; "" = every language

    bool empty() const {
        return !min_ngrams && !min_margin && !size_penalty && !max_ngram_length &&
               !max_distribution && !occurance_threshold && !candidates;
    }
};

std::optional<std::string> join_codes(const std::optional<std::vector<std::string>> &codes) {
    if (!codes) return std::nullopt;
    std::string joined;
    for (const auto &c : *codes) {
        // A comma inside a code would silently name two languages.
        if (c.empty() || c.find(',') != std::string::npos)
            fail(TAVIK_INVALID, "bad candidate code '" + c + "'");
        if (!joined.empty()) joined += ',';
        joined += c;
    }
    if (codes->empty()) fail(TAVIK_INVALID, "empty candidate list");
    return joined;
}

Settings settings_from(const py::kwargs &kw) {
    Settings s;
    for (auto item : kw) {
        const auto key = item.first.cast<std::string>();
        const py::handle v = item.second;
        if (v.is_none()) continue;
        if (key == "min_ngrams")
            s.min_ngrams = v.cast<int32_t>();
        else if (key == "min_margin")
            s.min_margin = v.cast<double>();
        else if (key == "size_penalty")
            s.size_penalty = v.cast<bool>();
        else if (key == "max_ngram_length")
            s.max_ngram_length = v.cast<int32_t>();
        else if (key == "max_distribution")
            s.max_distribution = v.cast<int32_t>();
        else if (key == "occurance_threshold")
            s.occurance_threshold = v.cast<int32_t>();
        else if (key == "candidates") {
            if (py::isinstance<py::str>(v))
                fail(TAVIK_INVALID, "candidates must be a list of codes, not a str");
            s.candidates = join_codes(v.cast<std::vector<std::string>>());
        } else
            throw py::type_error("unexpected keyword argument '" + key + "'");
    }
    return s;
}

SessionPtr new_session(const ModelPtr &model, const Settings &s) {
    tavik_session *raw = nullptr;
    const int32_t st = tavik_session_new(model.get(), &raw);
    if (st != TAVIK_OK) fail(st, "cannot create a session");
    SessionPtr session(raw);
    if (s.min_ngrams) tavik_session_set_min_ngrams(raw, *s.min_ngrams);
    if (s.min_margin) tavik_session_set_min_margin(raw, *s.min_margin);
    if (s.size_penalty) tavik_session_set_size_penalty(raw, *s.size_penalty ? 1 : 0);
    if (s.max_ngram_length) tavik_session_set_max_ngram_length(raw, *s.max_ngram_length);
    if (s.max_distribution) tavik_session_set_max_distribution(raw, *s.max_distribution);
    if (s.occurance_threshold) tavik_session_set_occurance_threshold(raw, *s.occurance_threshold);
    if (s.candidates) {
        const int32_t cs = tavik_session_set_candidates(raw, s.candidates->c_str());
        if (cs != TAVIK_OK) fail(cs, tavik_session_last_error(raw));
    }
    return session;
}

// One scored language.  Codes are at most 7 bytes: a fixed array keeps a
// result to one allocation, which identify_many makes per text.
struct Entry {
    std::array<char, 8> code{};
    double distance = 0.0;

    std::string_view name() const { return code.data(); }
    // By the code's text: bytes after its NUL carry no meaning.
    bool operator==(const Entry &o) const { return name() == o.name() && distance == o.distance; }
};
static_assert(sizeof(tavik_result::code) == sizeof(Entry::code));

Entry make_entry(std::string_view code, double distance) {
    Entry e;
    code.copy(e.code.data(), std::min(code.size(), e.code.size() - 1));
    e.distance = distance;
    return e;
}

// One identification's outcome, copied out of the session so that it
// outlives the next call.
struct Result {
    std::optional<std::string> code;      // the winner, for an OK status only
    std::optional<std::string> language;  // the closest language, as the tavik command names it
    double confidence = 0.0;
    double probability = -1.0;  // -1: the model has no calibration
    bool reliable = false;
    int32_t status = TAVIK_NO_PROFILE;
    int32_t ngrams = 0;
    std::vector<Entry> results;
};

// A script no candidate member serves is an outcome, as the tavik command
// prints it (no language), not a failure of the call.
bool identified(int32_t status) {
    return tavik::outcome::is_answer(status) || status == TAVIK_UNSUPPORTED_SCRIPT;
}

// Identifies one text; a status that is no outcome comes back as a Failure
// value rather than thrown, so that worker threads can collect it.  What
// the answer is (the closest language of a too-short text included) comes
// from the outcome the tavik command prints, so the two agree.
std::optional<Failure> identify_into(tavik_session *s, std::string_view text, Result &out) {
    thread_local tavik::outcome::Outcome o;  // its storage is reused
    const int32_t st = tavik::outcome::identify(s, text, o);
    if (!identified(st)) return Failure{st, tavik_session_last_error(s)};
    out.status = st;
    out.ngrams = o.ngrams;
    out.code.reset();
    out.language.reset();
    if (o.named) {
        out.language = o.code;
        if (st == TAVIK_OK) out.code = o.code;
    }
    out.confidence = o.named ? o.confidence : 0.0;
    out.probability = o.probability;
    out.reliable = o.reliable;
    out.results.clear();
    if (o.named)
        for (const tavik::outcome::Entry &e : o.results)
            out.results.push_back(make_entry(e.code, e.distance));
    return std::nullopt;
}

// A text from Python as UTF-8 bytes.  A str's UTF-8 form is cached inside
// the object, so the view stays valid while the object lives.
std::string_view text_view(py::handle obj, Py_ssize_t index) {
    if (PyUnicode_Check(obj.ptr())) {
        Py_ssize_t size = 0;
        const char *data = PyUnicode_AsUTF8AndSize(obj.ptr(), &size);
        if (data == nullptr) {
            PyErr_Clear();  // lone surrogates: no UTF-8 form exists
            fail(TAVIK_BAD_UTF8, "text is not encodable as UTF-8", index);
        }
        return {data, static_cast<std::size_t>(size)};
    }
    if (PyBytes_Check(obj.ptr())) {
        char *data = nullptr;
        Py_ssize_t size = 0;
        PyBytes_AsStringAndSize(obj.ptr(), &data, &size);
        return {data, static_cast<std::size_t>(size)};
    }
    const std::string type = py::str(py::type::handle_of(obj).attr("__name__"));
    fail(TAVIK_INVALID, "expected str or bytes, got " + type, index);
}

Result identify_one(tavik_session *s, py::handle text) {
    Result r;
    if (auto f = identify_into(s, text_view(text, -1), r)) fail(f->status, f->message);
    return r;
}

py::object parse_json(const char *doc) { return py::module_::import("json").attr("loads")(doc); }

py::object explain_with(tavik_session *s, py::handle text, const std::string &code) {
    int32_t index = -1;
    for (int32_t k = 0; k < tavik_session_language_count(s); ++k)
        if (code == tavik_session_language_code(s, k)) {
            index = k;
            break;
        }
    if (index < 0) fail(TAVIK_INVALID, "unknown language code '" + code + "'");
    const std::string_view bytes = text_view(text, -1);
    const int32_t st = tavik_session_identify(s, bytes.data(), bytes.size());
    if (!identified(st)) fail(st, tavik_session_last_error(s));
    const char *doc = tavik_session_explain(s, index);
    if (std::string_view(doc) == "{}") fail(st, "no explanation: too few n-grams in the text");
    return parse_json(doc);
}

unsigned usable_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    const unsigned h = std::thread::hardware_concurrency();
    return h > 0 ? h : 1;
}

class Session;

class Model {
public:
    explicit Model(ModelPtr m) : model_(std::move(m)) {}

    static Model open(const py::object &path_like, const std::optional<py::bytes> &data) {
        // Any path-like object, as open() takes it.
        std::optional<std::string> path;
        if (!path_like.is_none())
            path = py::module_::import("os").attr("fspath")(path_like).cast<std::string>();
        if (path && data) throw py::value_error("give a path or data, not both");
        tavik_model *raw = nullptr;
        int32_t st = TAVIK_OK;
        if (path) {
            st = tavik_model_open(path->c_str(), &raw);
            if (st != TAVIK_OK) fail(st, "cannot open profile file '" + *path + "'");
        } else if (data) {
            const std::string_view bytes = *data;
            st = tavik_model_open_memory(bytes.data(), bytes.size(), &raw);
            if (st != TAVIK_OK) fail(st, "bad profile data");
        } else {
            const auto embedded = tavik::cli::embedded_profile();
            if (embedded.empty()) fail(TAVIK_BAD_PROFILE, "this build has no embedded profile");
            st = tavik_model_open_memory(embedded.data(), embedded.size(), &raw);
            if (st != TAVIK_OK) fail(st, "bad embedded profile");
        }
        return Model(ModelPtr(raw, ModelFree{}));
    }

    std::vector<std::string> languages() const {
        std::vector<std::string> out;
        for (int32_t i = 0; i < tavik_model_language_count(model_.get()); ++i)
            out.emplace_back(tavik_model_language_code(model_.get(), i));
        return out;
    }

    py::dict meta() const {
        py::dict d;
        // Keys in file order; the first pair of a repeated key wins, and a
        // bundle's own pairs come before its first member's, as
        // tavik_model_meta answers.
        auto add = [&d](const tavik_meta *meta, int32_t count) {
            for (int32_t i = 0; i < count; ++i) {
                py::str key(meta[i].key);
                if (!d.contains(key)) d[key] = py::str(meta[i].value);
            }
        };
        if (const tavik::Routing *r = model_->routing; r != nullptr) add(r->meta, r->meta_count);
        add(model_->profile->meta, model_->profile->meta_count);
        return d;
    }

    std::string id() const {
        const char *s = tavik_model_id(model_.get());
        return s != nullptr ? s : "";
    }

    Result identify(py::handle text, const py::kwargs &kw) {
        const Settings s = settings_from(kw);
        if (!s.empty()) return identify_one(new_session(model_, s).get(), text);
        if (!plain_) plain_ = new_session(model_, {});
        return identify_one(plain_.get(), text);
    }

    py::object explain(py::handle text, const std::string &code, const py::kwargs &kw) {
        return explain_with(new_session(model_, settings_from(kw)).get(), text, code);
    }

    py::list identify_many(py::iterable texts, std::optional<int> jobs, const std::string &errors,
                           const py::kwargs &kw);

    const ModelPtr &ptr() const { return model_; }

private:
    ModelPtr model_;
    SessionPtr plain_;  // reused by identify without settings; guarded by the GIL
};

py::list Model::identify_many(py::iterable texts, std::optional<int> jobs,
                              const std::string &errors, const py::kwargs &kw) {
    if (errors != "raise" && errors != "none")
        throw py::value_error("errors must be \"raise\" or \"none\", not \"" + errors + "\"");
    const bool raise = errors == "raise";
    if (jobs && *jobs < 1) throw py::value_error("jobs must be at least 1");
    const Settings s = settings_from(kw);

    // Gather views while holding the lock; `keep` holds the objects (and so
    // their UTF-8 forms) alive while the threads read them.
    std::vector<py::object> keep;
    std::vector<std::string_view> views;
    std::vector<std::optional<Failure>> failures;
    if (py::hasattr(texts, "__len__")) {
        const auto n = py::len(texts);
        keep.reserve(n);
        views.reserve(n);
    }
    for (py::handle item : texts) {
        const auto index = static_cast<Py_ssize_t>(keep.size());
        keep.push_back(py::reinterpret_borrow<py::object>(item));
        try {
            views.push_back(text_view(item, index));
        } catch (const Failure &f) {
            if (raise) throw;
            views.emplace_back();
            failures.resize(keep.size());
            failures.back() = f;
        }
    }
    const std::size_t n = views.size();
    failures.resize(n);

    const std::size_t threads = std::min<std::size_t>(
        jobs ? static_cast<unsigned>(*jobs) : usable_cores(), std::max<std::size_t>(n, 1));
    std::vector<SessionPtr> sessions;
    for (std::size_t t = 0; t < threads; ++t) sessions.push_back(new_session(model_, s));

    std::vector<Result> results(n);
    {
        py::gil_scoped_release unlocked;
        // Items are handed out in small blocks: one atomic step per block
        // keeps the threads from contending on the counter.
        constexpr std::size_t kBlock = 16;
        std::atomic<std::size_t> next{0};
        auto work = [&](tavik_session *session) {
            for (;;) {
                const std::size_t begin = next.fetch_add(kBlock, std::memory_order_relaxed);
                if (begin >= n) return;
                const std::size_t end = std::min(n, begin + kBlock);
                for (std::size_t i = begin; i < end; ++i) {
                    if (failures[i]) continue;
                    if (auto f = identify_into(session, views[i], results[i])) {
                        f->index = static_cast<Py_ssize_t>(i);
                        failures[i] = std::move(f);
                    }
                }
            }
        };
        std::vector<std::thread> pool;
        pool.reserve(threads - 1);
        for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work, sessions[t].get());
        work(sessions[0].get());
        for (auto &th : pool) th.join();
    }

    py::list out(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (failures[i]) {
            if (raise) throw *failures[i];
            out[i] = py::none();
            continue;
        }
        out[i] = py::cast(std::move(results[i]));
    }
    return out;
}

// A reusable session: fixed settings and candidates, one caller at a time.
class Session {
public:
    Session(const Model &m, const py::kwargs &kw)
        : model_(m.ptr()), session_(new_session(model_, settings_from(kw))) {}

    Result identify(py::handle text) { return identify_one(session_.get(), text); }
    py::object explain(py::handle text, const std::string &code) {
        return explain_with(session_.get(), text, code);
    }

    std::vector<std::string> languages() const {
        std::vector<std::string> out;
        for (int32_t k = 0; k < tavik_session_language_count(session_.get()); ++k)
            out.emplace_back(tavik_session_language_code(session_.get(), k));
        return out;
    }

private:
    ModelPtr model_;
    SessionPtr session_;
};

// ------------------------------------------------------------- training

// Training has one process-wide record: one training at a time.
std::mutex train_mutex;

struct TrainLanguage {
    std::string code;
    std::vector<std::string> pieces;
};

struct TrainResetOnExit {
    ~TrainResetOnExit() { tavik_train_reset(); }
};

void train(const std::vector<TrainLanguage> &langs,
           const std::vector<std::pair<std::string, std::string>> &meta, const py::kwargs &kw,
           const std::string &path) {
    const Settings s = settings_from(kw);
    if (s.min_ngrams || s.min_margin || s.size_penalty || s.candidates)
        throw py::type_error("train takes only max_ngram_length, max_distribution and "
                             "occurance_threshold as settings");
    if (langs.empty()) fail(TAVIK_INVALID, "the corpus holds no language");
    py::gil_scoped_release unlocked;
    std::lock_guard lock(train_mutex);
    const TrainResetOnExit reset_on_exit;
    tavik_train_reset();
    // The settings are process-wide too; put back what any other user of
    // them had, so that training leaves no trace beside its file.
    const tavik_state before = *tavik_get_state();
    struct Restore {
        const tavik_state &b;
        ~Restore() {
            if (b.max_ngram_length > 0) tavik_set_max_ngram_length(b.max_ngram_length);
            if (b.max_distribution > 0) tavik_set_max_distribution(b.max_distribution);
            tavik_set_occurance_threshold(b.occurance_threshold);
        }
    } restore{before};
    tavik_set_max_ngram_length(s.max_ngram_length.value_or(5));
    tavik_set_max_distribution(s.max_distribution.value_or(4000));
    tavik_set_occurance_threshold(s.occurance_threshold.value_or(0));
    for (const auto &[key, value] : meta) {
        const int32_t st = tavik_train_set_meta(key.c_str(), value.c_str());
        if (st != TAVIK_OK) fail(st, "cannot set meta pair '" + key + "'");
    }
    for (const auto &lang : langs) {
        int32_t st = tavik_train_begin(lang.code.c_str());
        if (st != TAVIK_OK) fail(st, "bad language code '" + lang.code + "'");
        for (const auto &piece : lang.pieces) {
            if (piece.find('\0') != std::string::npos)
                fail(TAVIK_INVALID, "training text of '" + lang.code + "' holds a NUL character");
            st = tavik_train_feed(piece.c_str());
            if (st != TAVIK_OK) fail(st, "cannot feed the text of '" + lang.code + "'");
        }
        st = tavik_train_end_language();
        if (st == TAVIK_BAD_UTF8)
            fail(st, "training text of '" + lang.code + "' is not valid UTF-8");
        if (st != TAVIK_OK) fail(st, "cannot end language '" + lang.code + "'");
    }
    const int32_t st = tavik_train_write_profile(path.c_str());
    if (st != TAVIK_OK) fail(st, "cannot write profile '" + path + "'");
}

py::list results_list(const Result &r) {
    py::list out(r.results.size());
    for (std::size_t i = 0; i < r.results.size(); ++i)
        out[i] = py::make_tuple(py::str(r.results[i].name().data(), r.results[i].name().size()),
                                r.results[i].distance);
    return out;
}

py::object probability_of(const Result &r) {
    return r.probability >= 0.0 ? py::object(py::float_(r.probability)) : py::object(py::none());
}

py::tuple result_state(const Result &r) {
    return py::make_tuple(r.code, r.confidence, r.status, r.ngrams, results_list(r), r.language,
                          r.probability, r.reliable);
}

}  // namespace

PYBIND11_MODULE(_tavik, m) {
    m.doc() = "The compiled core of tavik; use the tavik package.";

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const Failure &f) {
            const py::object err =
                py::module_::import("tavik._types").attr("_error")(f.status, f.message, f.index);
            PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(err.ptr())), err.ptr());
        }
    });

    py::class_<Result>(m, "Result")
        .def_property_readonly("code", [](const Result &r) { return r.code; })
        .def_property_readonly("language", [](const Result &r) { return r.language; })
        .def_readonly("confidence", &Result::confidence)
        .def_property_readonly("probability", &probability_of)
        .def_readonly("reliable", &Result::reliable)
        .def_property_readonly(
            "status",
            [](const Result &r) {
                return py::module_::import("tavik._types").attr("Status")(r.status);
            })
        .def_readonly("ngrams", &Result::ngrams)
        .def_property_readonly("results", &results_list)
        .def_property_readonly("is_ambiguous",
                               [](const Result &r) { return r.status == TAVIK_AMBIGUOUS; })
        .def_property_readonly("is_too_short",
                               [](const Result &r) { return r.status == TAVIK_TOO_FEW_NGRAMS; })
        .def("to_dict",
             [](const Result &r) {
                 py::dict d;
                 d["code"] = r.code;
                 d["language"] = r.language;
                 d["confidence"] = r.confidence;
                 d["probability"] = probability_of(r);
                 d["reliable"] = r.reliable;
                 d["status"] = r.status;
                 d["ngrams"] = r.ngrams;
                 d["results"] = results_list(r);
                 return d;
             })
        .def("__eq__",
             [](const Result &a, const py::object &b) -> py::object {
                 if (!py::isinstance<Result>(b))
                     return py::reinterpret_borrow<py::object>(Py_NotImplemented);
                 const auto &r = b.cast<const Result &>();
                 return py::bool_(a.code == r.code && a.language == r.language &&
                                  a.confidence == r.confidence && a.probability == r.probability &&
                                  a.reliable == r.reliable && a.status == r.status &&
                                  a.ngrams == r.ngrams && a.results == r.results);
             })
        .def("__repr__",
             [](const Result &r) {
                 const std::string status = py::str(
                     py::module_::import("tavik._types").attr("Status")(r.status).attr("name"));
                 const py::list all = results_list(r);
                 std::string top;
                 for (std::size_t i = 0; i < r.results.size() && i < 3; ++i) {
                     if (i) top += ", ";
                     top += py::repr(all[i]).cast<std::string>();
                 }
                 if (r.results.size() > 3) top += ", ...";
                 return "Result(code=" + py::repr(py::cast(r.code)).cast<std::string>() +
                        ", language=" + py::repr(py::cast(r.language)).cast<std::string>() +
                        ", confidence=" + py::repr(py::float_(r.confidence)).cast<std::string>() +
                        ", probability=" + py::repr(probability_of(r)).cast<std::string>() +
                        ", reliable=" + (r.reliable ? "True" : "False") + ", status=" + status +
                        ", ngrams=" + std::to_string(r.ngrams) + ", results=[" + top + "])";
             })
        .def(py::pickle([](const Result &r) { return result_state(r); },
                        [](const py::tuple &t) {
                            Result r;
                            r.code = t[0].cast<std::optional<std::string>>();
                            r.confidence = t[1].cast<double>();
                            r.status = t[2].cast<int32_t>();
                            r.ngrams = t[3].cast<int32_t>();
                            for (const auto &[c, d] :
                                 t[4].cast<std::vector<std::pair<std::string, double>>>())
                                r.results.push_back(make_entry(c, d));
                            if (t.size() >= 8) {
                                r.language = t[5].cast<std::optional<std::string>>();
                                r.probability = t[6].cast<double>();
                                r.reliable = t[7].cast<bool>();
                            }
                            return r;
                        }));
    py::object result_type = m.attr("Result");
    result_type.attr("__hash__") = py::none();

    py::class_<Model>(m, "Model")
        .def(py::init(&Model::open), py::arg("path") = py::none(), py::arg("data") = py::none())
        .def_property_readonly("languages", &Model::languages)
        .def_property_readonly("meta", &Model::meta)
        .def_property_readonly("id", &Model::id)
        .def("identify", &Model::identify, py::arg("text"))
        .def("explain", &Model::explain, py::arg("text"), py::arg("code"))
        .def("identify_many", &Model::identify_many, py::arg("texts"), py::arg("jobs") = py::none(),
             py::arg("errors") = "raise")
        .def("session",
             [](const Model &model, const py::kwargs &kw) { return Session(model, kw); });

    py::class_<Session>(m, "Session")
        .def_property_readonly("languages", &Session::languages)
        .def("identify", &Session::identify, py::arg("text"))
        .def("explain", &Session::explain, py::arg("text"), py::arg("code"));

    m.def(
        "_train",
        [](const py::list &langs, const py::list &meta, const std::string &path,
           const py::kwargs &kw) {
            std::vector<TrainLanguage> ls;
            for (py::handle l : langs) {
                const auto pair = l.cast<py::tuple>();
                TrainLanguage tl{pair[0].cast<std::string>(), {}};
                for (py::handle piece : pair[1]) {
                    const std::string_view v = text_view(piece, -1);
                    tl.pieces.emplace_back(v);
                }
                ls.push_back(std::move(tl));
            }
            train(ls, meta.cast<std::vector<std::pair<std::string, std::string>>>(), kw, path);
        },
        py::arg("languages"), py::arg("meta"), py::arg("path"));
    m.def("_usable_cores", &usable_cores);
}
