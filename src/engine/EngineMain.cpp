// hushwing-engine: runs the on-device model for the window, in a process of
// its own, so that whatever llama.cpp does with a bad file (it ends the
// process on some malformed inputs) or a file too large for memory (the
// out-of-memory killer) ends this helper and never the window.
//
//   hushwing-engine <model.gguf> [--threads N] [--context N] [--seed N]
//
// It checks and loads the model, answers "ready" (or "fatal" with a sentence,
// and ends), then serves one conversation at a time over stdin/stdout (see
// Channel.h). It opens no socket and writes no file.
#include "Channel.h"
#include "Conversation.h"
#include "ModelFileCheck.h"

#include <ggml-backend.h>
#include <ggml.h>
#include <llama.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using nlohmann::json;

namespace {

std::string g_firstError;  // llama.cpp's first error line since the last clearErrors()

void clearErrors()
{
    g_firstError.clear();
}

// "llama_model_load: error loading model: error loading model architecture:
// unknown model architecture: 'x'" keeps "unknown model architecture: 'x'".
void keepErrors(ggml_log_level level, const char *text, void *)
{
    if (level != GGML_LOG_LEVEL_ERROR || !text || !g_firstError.empty())
        return;
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    if (line.compare(0, 6, "llama_") == 0 || line.compare(0, 5, "gguf_") == 0)
        line.erase(0, line.find(": ") == std::string::npos ? 0 : line.find(": ") + 2);
    for (const std::string prefix : {"error loading model: ", "error loading model architecture: ",
                                     "error loading model hyperparameters: ", "error loading model vocabulary: "})
        if (line.compare(0, prefix.size(), prefix) == 0)
            line.erase(0, prefix.size());
    g_firstError = line;
}

uint64_t tensorBytes(uint32_t type, uint64_t elements)
{
    if (type >= GGML_TYPE_COUNT)
        return 0;
    const auto t = ggml_type(type);
    const int64_t block = ggml_blck_size(t);
    const size_t size = ggml_type_size(t);
    if (block <= 0 || size == 0 || elements % uint64_t(block) != 0)
        return 0;
    const uint64_t blocks = elements / uint64_t(block);
    return blocks > UINT64_MAX / size ? 0 : blocks * size;
}

std::string baseName(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string gigabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    return text;
}

// Reads the metadata and tensor table whole (they can take megabytes: the
// tokenizer's vocabulary) and refuses what llama.cpp should not be given.
std::string refusalOf(const std::string &path, uint64_t &fileSize)
{
    const std::string name = baseName(path);
    std::ifstream file(path, std::ios::binary);
    struct stat info {};
    if (!file || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return "The model file \u201C" + name + "\u201D cannot be read.";
    fileSize = uint64_t(info.st_size);
    std::vector<unsigned char> bytes;
    for (size_t want = 1 << 20;; want *= 4) {
        want = size_t(std::min<uint64_t>(want, fileSize));
        bytes.resize(want);
        file.seekg(0);
        file.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(want));
        if (file.gcount() != std::streamsize(want))
            return "The model file \u201C" + name + "\u201D cannot be read.";
        const auto report = ModelFileCheck::inspect(bytes.data(), bytes.size(), fileSize, tensorBytes);
        if (report.verdict != ModelFileCheck::Verdict::usable)
            return ModelFileCheck::refusal(report, name);
        if (report.complete)
            break;
        if (want == fileSize || want >= (512u << 20))
            return "The model file \u201C" + name + "\u201D is damaged: its header is too large.";
    }
    const uint64_t memory = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGE_SIZE));
    if (memory > 0 && fileSize > memory)
        return "The model file \u201C" + name + "\u201D (" + gigabytes(fileSize)
               + ") is larger than this computer\u2019s memory (" + gigabytes(memory) + ").";
    return {};
}

// Under memory pressure the kernel ends this helper rather than the window.
void preferToBeKilledFirst()
{
    std::ofstream("/proc/self/oom_score_adj") << "1000";
}

std::string directoryOfThisProgram()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string dir(path, size_t(n));
    return dir.substr(0, dir.rfind('/'));
}

int fatal(Channel &channel, const std::string &sentence)
{
    channel.send({{"fatal", sentence}});
    return 2;
}

struct Options
{
    std::string model;
    int threads = 1;
    int context = 4096;
    uint32_t seed = LLAMA_DEFAULT_SEED;  // random; the tests fix it to be repeatable
};

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seed" && i + 1 < argc) {
            options.seed = uint32_t(std::strtoul(argv[++i], nullptr, 10));
        } else if ((arg == "--threads" || arg == "--context") && i + 1 < argc) {
            const int value = std::atoi(argv[++i]);
            if (value <= 0)
                return false;
            (arg == "--threads" ? options.threads : options.context) = value;
        } else if (options.model.empty()) {
            options.model = arg;
        } else {
            return false;
        }
    }
    return !options.model.empty();
}

std::vector<Conversation::Message> messagesOf(const json &list)
{
    std::vector<Conversation::Message> messages;
    if (list.is_array())
        for (const auto &entry : list)
            if (entry.is_object())
                messages.push_back({entry.value("role", ""), entry.value("content", "")});
    return messages;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);  // a window that went away shows as a failed write
    Channel channel;
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: hushwing-engine <model.gguf> [--threads N] [--context N]\n");
        return 64;
    }
    preferToBeKilledFirst();
    llama_log_set(keepErrors, nullptr);
    const auto started = std::chrono::steady_clock::now();

    uint64_t fileSize = 0;
    if (const std::string refusal = refusalOf(options.model, fileSize); !refusal.empty())
        return fatal(channel, refusal);

    // The CPU back end of this machine's generation sits beside this program.
    if (ggml_backend_dev_count() == 0)
        ggml_backend_load_all_from_path(directoryOfThisProgram().c_str());
    llama_backend_init();
    const std::string name = baseName(options.model);
    llama_model_params modelParams = llama_model_default_params();
    clearErrors();
    llama_model *model = llama_model_load_from_file(options.model.c_str(), modelParams);
    if (!model)
        return fatal(channel, "The model file \u201C" + name + "\u201D could not be loaded: "
                                  + (g_firstError.empty() ? std::string("llama.cpp gave no reason") : g_firstError) + ".");

    const char *chatTemplate = llama_model_chat_template(model, nullptr);
    llama_chat_message probe{"user", "Hello"};
    if (llama_chat_apply_template(chatTemplate, &probe, 1, true, nullptr, 0) < 0)
        return fatal(channel, "The model file \u201C" + name + "\u201D has a chat template that Hushwing does not know.");

    llama_context_params contextParams = llama_context_default_params();
    const int trained = llama_model_n_ctx_train(model);
    contextParams.n_ctx = uint32_t(trained > 0 ? std::min(options.context, trained) : options.context);
    contextParams.n_batch = std::min(contextParams.n_ctx, 512u);
    contextParams.n_threads = options.threads;
    contextParams.n_threads_batch = options.threads;
    clearErrors();
    llama_context *context = llama_init_from_model(model, contextParams);
    if (!context)
        return fatal(channel, "The model file \u201C" + name + "\u201D loaded, but its context could not be made: "
                                  + (g_firstError.empty() ? std::string("not enough memory?") : g_firstError) + ".");

    Conversation conversation(model, context, channel, options.seed);
    const double loadMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    if (!channel.send({{"ready", {{"context", llama_n_ctx(context)}, {"threads", options.threads}, {"loadMs", loadMs}}}}))
        return 0;

    while (const auto command = channel.next()) {
        if (command->contains("open")) {
            const json &open = (*command)["open"];
            conversation.open(open.value("instructions", ""), messagesOf(open.value("transcript", json::array())));
        } else if (command->contains("reply") && (*command)["reply"].is_string()) {
            bool writing = true;
            const auto turn = conversation.reply((*command)["reply"].get<std::string>(), [&](const std::string &piece) {
                writing = writing && channel.send({{"piece", piece}});
            });
            if (!writing)
                break;
            if (turn.end == Conversation::Turn::End::failed) {
                channel.send({{"error", turn.error}});
                continue;
            }
            const char *end = turn.end == Conversation::Turn::End::stopped       ? "stopped"
                              : turn.end == Conversation::Turn::End::contextFull ? "contextFull"
                                                                                  : "complete";
            channel.send({{"end", end},
                          {"promptTokens", turn.promptTokens},
                          {"generatedTokens", turn.generatedTokens},
                          {"contextUsed", turn.contextUsed},
                          {"promptMs", turn.promptMs},
                          {"firstPieceMs", turn.firstPieceMs},
                          {"generateMs", turn.generateMs}});
        }
        if (channel.closed())
            break;
    }
    llama_free(context);
    llama_model_free(model);
    return 0;
}
