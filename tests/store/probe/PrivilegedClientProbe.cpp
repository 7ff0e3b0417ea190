// Stands in for the application where a test runs it as another user: asks the helper its version, or
// removes the helper, through the privileged client, and prints the reply's JSON or "error: " and the
// error's text.
//
//   privileged_client_probe BUNDLE version|remove
#include <QCoreApplication>

#include <cstdio>
#include <string>

#include "Quillwick/store/PrivilegedClient.h"
#include "helperkit/PeerRequirement.h"

namespace {

template <typename T>
bool finish(QFuture<T> future, std::string& output) {
    while (!future.isFinished()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    try {
        if constexpr (std::is_void_v<T>) {
            future.waitForFinished();
            output = "removed";
        } else {
            output = future.result().jsonData();
        }
        return true;
    } catch (const std::exception& error) {
        output = std::string("error: ") + error.what();
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    qw::HelperSocket::sealProcess();  // as the application does
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: privileged_client_probe BUNDLE version|remove\n", stderr);
        return 64;
    }
    qw::PrivilegedClient client({arguments[1].toStdString(), std::nullopt});
    std::string output;
    bool done = false;
    if (arguments[2] == "version") {
        qw::HelperRequest request;
        request.reason = "check the helper's version";
        done = finish(client.perform(request), output);
    } else {
        done = finish(client.removeHelper(), output);
    }
    std::fputs(output.c_str(), stdout);
    return done ? 0 : 1;
}
