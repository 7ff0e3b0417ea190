#include "Quillwick/app/Screenshots.h"

#include <functional>
#include <memory>
#include <optional>

#include <QCoreApplication>
#include <QDir>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/app/QuillwickApp.h"
#include "Quillwick/detail/JobDetailView.h"

namespace qw {
namespace {

void save(QWidget* widget, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name + ".png");
    widget->grab().save(path);
    QTextStream(stdout) << path << '\n';
}

// Lets queued layout and paint events run before the next picture.
void later(std::function<void()> step) { QTimer::singleShot(150, qApp, std::move(step)); }

std::optional<std::string> idOf(QuillwickApp& app, const std::string& label) {
    for (const Job& job : app.services().store().jobs())
        if (job.label == label) return job.id();
    return std::nullopt;
}

// Each tab of the pane in turn, the Log tab on a job that keeps one; then `done`.
void tourDetail(QuillwickApp& app, ContentView* window, const QString& folder, std::function<void()> done) {
    struct Step {
        const char* label;
        JobDetailView::Tab tab;
    };
    static const Step steps[] = {{"com.example.renderd", JobDetailView::Tab::overview},
                                 {"com.example.renderd", JobDetailView::Tab::configure},
                                 {"com.example.heartbeat", JobDetailView::Tab::log},
                                 {"com.example.renderd", JobDetailView::Tab::problems},
                                 {"com.example.renderd", JobDetailView::Tab::source}};
    auto next = std::make_shared<std::function<void(std::size_t)>>();
    *next = [&app, window, folder, done, next](std::size_t i) {
        if (i == std::size(steps)) return done();
        if (auto id = idOf(app, steps[i].label)) window->setSelection(*id);
        if (auto* pane = window->findChild<JobDetailView*>("jobDetail")) pane->setTab(steps[i].tab);
        // The pane's own loading (launchctl, the log, the checker) finishes before the picture.
        QTimer::singleShot(1200, qApp, [window, folder, next, i] {
            save(window, folder, "detail-" + JobDetailView::title(steps[i].tab).toLower());
            (*next)(i + 1);
        });
    };
    (*next)(0);
}

}  // namespace

void takeScreenshots(QuillwickApp& app, const QString& folder) {
    QDir().mkpath(folder);
    ContentView* window = app.mainWindows().front();
    QObject::connect(window, &ContentView::problemScanApplied, window, [&app, window, folder] {
        static bool once = false;
        if (once)
            return;
        once = true;
        later([&app, window, folder] {
            save(window, folder, "main-window");
            const auto& jobs = app.services().store().jobs();
            for (const Job& job : jobs)
                if (window->problemLabels().count(job.id())) {
                    window->setSelection(job.id());
                    break;
                }
            later([&app, window, folder] {
                save(window, folder, "selected-job");
                tourDetail(app, window, folder, [&app, window, folder] {
                window->setFilter(JobFilter::Kind::problems);
                later([&app, window, folder] {
                    save(window, folder, "problems");
                    window->setFilter(JobFilter::Kind::cron);
                    later([&app, window, folder] {
                        save(window, folder, "cron");
                        app.showSettings();
                        auto* settings = static_cast<QTabWidget*>(app.settingsWindow());
                        later([settings, folder] {
                            for (int i = 0; i < settings->count(); ++i) {
                                settings->setCurrentIndex(i);
                                save(settings, folder, "settings-" + settings->tabText(i).toLower());
                            }
                            QCoreApplication::quit();
                        });
                    });
                });
                });
            });
        });
    });
}

}  // namespace qw
