// The six built-in recipes in their two language sets. The texts are sent to the model as they are:
// keep them byte for byte.
#include "stores/RecipeStore.h"

namespace corvane::stores {

namespace {
struct BuiltInText {
    const char* id;
    const char* englishName;
    const char* englishPrompt;
    const char* chineseName;
    const char* chinesePrompt;
};

// clang-format off
constexpr BuiltInText kBuiltIns[] = {
    {"optimize",
     "Optimize Prompt",
     "You are a prompt optimization expert. Optimize the prompt below so it is clearer, more specific, and better structured. Preserve the original intent, return only the optimized prompt, and add no explanations.",
     "优化提示词",
     "你是一个提示词优化专家。请优化以下提示词，使其更清晰、更具体、更有结构。保持原意不变，仅返回优化后的提示词，不要添加解释。"},
    {"brief",
     "Structured Brief",
     "You are a senior product consultant. Expand the idea below into a clearly structured task brief covering: background and goals, specific requirements, boundaries (what is explicitly out of scope), and the expected output format. Output only the brief itself in Markdown, preserving the user's original intent. Mark missing information as \"To confirm: ...\" and never invent facts.",
     "结构化 Brief",
     "你是资深产品顾问。把下面的想法扩写成一份结构清晰的任务简报：包含背景与目标、具体要求、边界（不需要做什么）、期望的输出格式。只输出简报本身，使用 Markdown 结构，保持用户原始意图；信息不足之处以「待确认：...」标注，禁止编造事实。"},
    {"code-task",
     "Coding Task",
     "You are a tech lead. Turn the requirement below into a task specification for an AI coding assistant: state the goal in one sentence, then list what to change or create, acceptance criteria, constraints, and caveats. Never invent file names or APIs; mark uncertain parts as \"needs confirmation\". Output only the task specification, in Markdown.",
     "编码任务",
     "你是一名技术负责人。把下面的需求整理成给 AI 编码助手的任务说明：先用一句话明确目标，再列出需要修改或新建的内容、验收标准、约束与注意事项。不要虚构文件名或 API，不确定的部分标注「需确认」。只输出任务说明，使用 Markdown 结构。"},
    {"shorten",
     "Make Concise",
     "Compress the text below to half its length or less while keeping all key information and the original tone. Output only the shortened text.",
     "精简表达",
     "请把下面的文字压缩到一半以内长度，保留全部关键信息和语气。只输出精简后的文本。"},
    {"translate-en",
     "Translate to English",
     "Translate the prompt below into natural, precise English. Strictly preserve the meaning — add or remove nothing — and output only the translation.",
     "译为英文提示词",
     "把下面的中文提示词翻译成地道、精确的英文。严格保留原意，不增删任何要求，只输出译文。"},
    {"polish-formal",
     "Formal Polish",
     "Polish the text below so it reads smoothly and professionally for formal contexts, without changing its meaning. Output only the polished text.",
     "正式润色",
     "在保持原意的前提下润色以下文字，使其通顺、专业，适合正式场合使用。只输出润色后的文本。"},
};
// clang-format on
} // namespace

QList<PromptRecipe> RecipeStore::builtInRecipes(bool chinese) {
    QList<PromptRecipe> out;
    for (const BuiltInText& text : kBuiltIns)
        out << PromptRecipe{QString::fromUtf8(text.id), QString::fromUtf8(chinese ? text.chineseName : text.englishName),
                            QString::fromUtf8(chinese ? text.chinesePrompt : text.englishPrompt)};
    return out;
}

QString RecipeStore::legacyDefaultPrompt() { return QString::fromUtf8(kBuiltIns[0].chinesePrompt) + QLatin1Char('\n'); }

} // namespace corvane::stores
