// Which of the neighbouring subsystems this build has. Each view plugs in where the main window puts
// it once its folder is part of the tree; until then the window shows that place's own empty state.
#pragma once

#if __has_include("Quillwick/store/PrivilegedClient.h")
#define QW_HAS_PRIVILEGED 1
#endif
// The router carries the helper's road, so it plugs in with the privileged client.
#if __has_include("Quillwick/store/OperationRouter.h") && defined(QW_HAS_PRIVILEGED)
#define QW_HAS_ROUTER 1
#endif
#if __has_include("Quillwick/cron/CrontabStore.h")
#define QW_HAS_CRONTAB 1
#endif
#if __has_include("Quillwick/cron/CronListView.h") && __has_include("Quillwick/cron/CronDetailView.h") && \
    __has_include("Quillwick/cron/NewCronJobView.h")
#define QW_HAS_CRON_VIEWS 1
#endif
#if __has_include("Quillwick/detail/JobDetailView.h")
#define QW_HAS_DETAIL 1
#endif
#if __has_include("Quillwick/editing/NewJobView.h")
#define QW_HAS_NEW_JOB 1
#endif
#if __has_include("Quillwick/feedback/FeedbackView.h")
#define QW_HAS_FEEDBACK 1
#endif
