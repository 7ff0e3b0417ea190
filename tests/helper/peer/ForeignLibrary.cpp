// A library of no system folder and no bundle: what an administrator would slip into the application.
extern "C" int quillwickTestForeignLibrary() { return 1; }
