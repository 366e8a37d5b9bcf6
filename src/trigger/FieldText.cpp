#include "trigger/FieldText.h"
#include <QHash>
#include <QSet>

namespace corvane::trigger::fieldtext {

namespace {

// Bounds of one expansion: a rich editor nests a few levels; a huge document falls back to the
// clipboard rather than holding the run up.
constexpr int kMaxDepth = 24;
constexpr int kMaxObjects = 4000;

// Objects that flow inside a line; everything else (paragraphs, headings, lists and their items,
// sections, quotes, tables, unknown roles) is a block.
bool isInline(const std::optional<QString>& role) {
    static const QSet<QString> inlineRoles = {
        QStringLiteral("link"),         QStringLiteral("image"),       QStringLiteral("math"),
        QStringLiteral("superscript"),  QStringLiteral("subscript"),   QStringLiteral("mark"),
        QStringLiteral("footnote"),     QStringLiteral("static"),      QStringLiteral("label"),
        QStringLiteral("content insertion"), QStringLiteral("content deletion"),
        QStringLiteral("push button"),  QStringLiteral("toggle button"), QStringLiteral("check box"),
        QStringLiteral("radio button"), QStringLiteral("combo box"),   QStringLiteral("entry"),
        QStringLiteral("spin button"),  QStringLiteral("password text"),
    };
    return role && inlineRoles.contains(*role);
}

struct Expansion {
    platform::Accessibility& a11y;
    QString out;
    bool breakPending = false;  // a block ended: what follows starts a new line
    int objectsLeft = kMaxObjects;

    void appendRun(QStringView run) {
        if (run.isEmpty())
            return;
        if (breakPending && run.front() != u'\n')
            out.append(QLatin1Char('\n'));
        breakPending = false;
        out.append(run);
    }

    void startBlock() {
        if (!out.isEmpty() && !out.endsWith(QLatin1Char('\n')))
            out.append(QLatin1Char('\n'));
        breakPending = false;
    }

    void expand(const platform::ElementRef& element, const QString& raw, int depth) {
        qsizetype placeholder = raw.indexOf(QChar(kPlaceholder));
        if (placeholder < 0) {
            appendRun(raw);
            return;
        }
        std::optional<QList<platform::EmbeddedObject>> objects;
        if (depth < kMaxDepth && objectsLeft > 0)
            objects = a11y.embeddedObjects(element);
        QHash<int, const platform::EmbeddedObject*> at;
        if (objects && objects->size() <= objectsLeft) {
            objectsLeft -= int(objects->size());
            for (const auto& object : std::as_const(*objects))
                at.insert(object.offset, &object);
        }
        qsizetype pos = 0;
        int offset = 0;
        while (placeholder >= 0) {
            const QStringView run = QStringView(raw).mid(pos, placeholder - pos);
            appendRun(run);
            offset += characterCount(run);
            const platform::EmbeddedObject* object = at.value(offset);
            if (object && object->text) {
                const bool block = !isInline(object->role);
                if (block)
                    startBlock();
                expand(object->element, *object->text, depth + 1);
                breakPending = breakPending || block;
            } else {
                appendRun(QStringView(raw).mid(placeholder, 1));
            }
            ++offset;
            pos = placeholder + 1;
            placeholder = raw.indexOf(QChar(kPlaceholder), pos);
        }
        appendRun(QStringView(raw).mid(pos));
    }
};

} // namespace

QString expanded(platform::Accessibility& a11y, const platform::ElementRef& element, const QString& raw) {
    if (!raw.contains(QChar(kPlaceholder)))
        return raw;
    Expansion expansion{a11y, {}};
    expansion.out.reserve(raw.size());
    expansion.expand(element, raw, 0);
    return expansion.out;
}

bool padsAstralCharacters(const std::optional<platform::Toolkit>& toolkit) {
    return toolkit && toolkit->name.compare(QLatin1String("Gecko"), Qt::CaseInsensitive) == 0;
}

bool mayHoldFillers(const QString& text) {
    for (qsizetype i = 1; i < text.size(); ++i)
        if (text.at(i).unicode() == 0xFEFF && text.at(i - 1).isLowSurrogate())
            return true;
    return false;
}

QString withoutFillers(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool filler = text.at(i).unicode() == 0xFEFF && i >= 2 && text.at(i - 1).isLowSurrogate() &&
                            text.at(i - 2).isHighSurrogate();
        if (!filler)
            out.append(text.at(i));
    }
    return out;
}

int characterCount(QStringView text) {
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!(text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate()))
            ++count;
    return count;
}

} // namespace corvane::trigger::fieldtext
