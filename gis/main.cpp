// relief_forge_gis: GIS contours in, a georeferenced DEM out, with the
// surface of the interactive program.
#include "gis/gis.h"
#include "gis/outputs/commit.h"

#include <cpl_conv.h>
#include <cstdio>
#include <gdal.h>
#include <new>

namespace {

int run(int argc, char** argv)
{
    const Cli cli = parse_command_line(argc - 1, argv + 1);
    if (cli.version) {
        std::fputs(version_text().c_str(), stdout);
        return 0;
    }
    if (cli.help) {
        std::fputs(command_help(cli.command), stdout);
        return 0;
    }
    progress_enable(!cli.quiet);
    install_interrupt_cleanup();
    for (const auto& [key, value] : cli.config) CPLSetConfigOption(key.c_str(), value.c_str());
    gdal_start();
    if (cli.command == Command::import) run_import(cli);
    if (cli.command == Command::build) run_build(cli);
    if (cli.command == Command::export_dem) run_export(cli);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int status = 1;
    try {
        status = run(argc, argv);
    } catch (const Usage_error& e) {
        const std::string cmd = e.command.empty() ? "" : " " + e.command;
        std::fprintf(stderr,
                     "relief_forge_gis%s: %s\nTry 'relief_forge_gis%s --help' for more "
                     "information.\n",
                     cmd.c_str(), e.what(), cmd.c_str());
    } catch (const Gis_error& e) {
        progress_abort();
        std::fprintf(stderr, "relief_forge_gis: %s%s\n", e.what(), failure_outcome());
    } catch (const std::bad_alloc&) {
        progress_abort();
        std::fprintf(stderr, "relief_forge_gis: not enough memory to go on%s\n", failure_outcome());
    }
    GDALDestroyDriverManager();
    return status;
}
