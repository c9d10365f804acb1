#include "verdict.hpp"

#include "output.hpp"
#include "paths.hpp"
#include "summary.hpp"

namespace drop {

namespace {

// The copy of a job that failed at `outcome`, with the system's texts.
Ended failure(const Outcome& outcome, const Folder& copies, const Path& temporary) {
    using Step = Outcome::Step;
    Path cause = text(step_words(outcome.step));
    if (outcome.step != Step::too_short && outcome.step != Step::changed && outcome.step != Step::busy) {
        cause += text(": ") + system_text(outcome.error);
    }
    Path why = cause;
    if (outcome.left) {
        why += text("; the temporary copy ") + readable(join(copies.path, temporary)) + text(" stays: ") +
               system_text(outcome.left_error);
    }
    return failed(std::move(why), std::move(cause));
}

}  // namespace

Ended failed(Path why, Path cause, std::vector<Made> made) {
    return {Verdict::failed, std::move(why), false, std::move(made), std::move(cause)};
}

Path shown_in_copies(PathView relative) { return join(text("converted"), readable(relative)); }

std::optional<Ended> twins_copy(const Job& job, const Folder& copies, const Path& copy) {
    if (!job.case_twin || spelled_as(copies, copy)) return std::nullopt;
    return failed(shown_in_copies(copy) +
                      text(" is the copy of a file whose path differs only in letter case, and converted cannot hold both"),
                  text("its copy's path differs only in letter case from another file's, and converted cannot hold both"));
}
Ended already(const Job& job, const Folder& copies, const Path& copy) {
    if (std::optional<Ended> twins = twins_copy(job, copies, copy)) return std::move(*twins);
    Ended skipped{Verdict::skipped, text("already converted: ") + shown_in_copies(copy) + text(" exists")};
    skipped.has_copy = true;
    return skipped;
}

Ended not_a_folder(PathView shown, const Below& below) {
    if (below.making) {
        return failed(text("cannot make the folder ") + Path(shown) + text(": ") + system_text(below.error),
                      text("cannot make a folder in converted: ") + system_text(below.error));
    }
    if (below.found && *below.found != Found::Kind::missing && *below.found != Found::Kind::folder) {
        return failed(Path(shown) + text(" is ") + text(kind_words(*below.found)) + text(", not a folder"),
                      text("converted holds ") + text(kind_words(*below.found)) + text(" where a folder of copies goes"));
    }
    return failed(text("cannot open the folder ") + Path(shown) + text(": ") + system_text(below.error),
                  text("cannot open a folder in converted: ") + system_text(below.error));
}

Ended verdict(const Job& job, const Folder& copies, const Path& copy, const Outcome& outcome,
              const Path& temporary, const Path& again) {
    switch (outcome.step) {
    case Outcome::Step::done:
    {
        Path why = is_wav(PathView(job.name)) ? Path() : text("not named .wav; converted as asked");
        for (const Path& more : {again, outcome.form == Form::plain_wav
                                            ? text("it was a plain WAV file already, so the copy is nibble-swapped")
                                            : Path()}) {
            if (!why.empty() && !more.empty()) why += text("; ");
            why += more;
        }
        Ended converted{Verdict::converted, why, outcome.form == Form::plain_wav};
        converted.has_copy = true;
        return converted;
    }
    case Outcome::Step::stopped: return {Verdict::not_done, text("stopped; no copy kept")};
    case Outcome::Step::not_regular: return {Verdict::skipped, text("not a regular file")};
    case Outcome::Step::taken: return already(job, copies, copy);  // made meanwhile: by a case twin, or another drop
    default: return failure(outcome, copies, temporary);
    }
}

}  // namespace drop
