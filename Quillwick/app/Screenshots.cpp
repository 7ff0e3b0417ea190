#include "Quillwick/app/Screenshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>

#include "Quillwick/app/AppServices.h"
#include "Quillwick/app/ContentView.h"
#include "Quillwick/app/QuillwickApp.h"

namespace qw {
namespace {

void save(QWidget* widget, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name + ".png");
    widget->grab().save(path);
    QTextStream(stdout) << path << '\n';
}

// Lets queued layout and paint events run before the next picture.
void later(std::function<void()> step) { QTimer::singleShot(150, qApp, std::move(step)); }

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
}

}  // namespace qw
