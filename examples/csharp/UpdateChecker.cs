// One update check from C#, late bound: no interop assembly and no reference
// to add, only the ProgID. CheckAsync returns a Task: a WinForms or WPF
// application awaits it on its UI thread, which stays free meanwhile.
using System;
using System.Runtime.InteropServices;
using System.Threading;
using System.Threading.Tasks;

namespace UpdateCheckExample
{
    // What one check found.
    public sealed class UpdateCheckResult
    {
        // False: nothing was published by this check (what the object held
        // then came from no file of it).
        public bool Succeeded;
        // The server process ended during the check; ServerError is what the
        // call that found it got.
        public bool ServerEnded;
        public int ServerError;
        public int Major, Minor, Build;
        public string UpdateURL = "", VersionHistory = "";
        // IsUpgradeAvailable: the published version differs from the host's.
        public bool Differs;

        // The published version against the host's, major, then minor, then
        // build: 1 newer, 0 the same, -1 older.
        public int CompareTo(int major, int minor, int build)
        {
            int order = Major.CompareTo(major);
            if (order == 0) order = Minor.CompareTo(minor);
            if (order == 0) order = Build.CompareTo(build);
            return Math.Sign(order);
        }
    }

    public static class UpdateChecker
    {
        const string ProgId = "QELUpdateCheck1_1.UpdateCheck";
        const int CO_E_SERVER_STOPPING = unchecked((int)0x80080008);

        // Checks url for the host version major.minor.build. Creating the object
        // or StartCheck may throw COMException (its HResult says why); a
        // cancelled check is given up and throws OperationCanceledException.
        public static async Task<UpdateCheckResult> CheckAsync(string url, int major, int minor,
                                                               int build, CancellationToken cancel)
        {
            dynamic check = Create();
            try
            {
                check.StartCheck(url);
                var result = new UpdateCheckResult();
                try
                {
                    // The check ends within 60 s unless the server process ends,
                    // and then no event would come: ask once a second instead.
                    DateTime deadline = DateTime.UtcNow.AddSeconds(90);
                    while (check.IsActive())
                    {
                        if (DateTime.UtcNow > deadline)
                            throw new TimeoutException("No answer within 90 s");
                        await Task.Delay(1000, cancel);
                    }
                    result.Major = check.Major;
                    result.Minor = check.Minor;
                    result.Build = check.Build;
                    // A fresh object holds 0.0.0 until a check succeeds, and no
                    // version file publishes major 0.
                    result.Succeeded = result.Major != 0;
                    if (!result.Succeeded) return result;
                    result.UpdateURL = check.UpdateURL;
                    result.VersionHistory = check.VersionHistory;
                    result.Differs = check.IsUpgradeAvailable(major, minor, build);
                }
                catch (COMException e)
                {
                    // Once the check runs, a call fails only when the server has gone.
                    result = new UpdateCheckResult { ServerEnded = true, ServerError = e.HResult };
                }
                return result;
            }
            finally
            {
                // Now, not when the garbage collector gets round to it: the server
                // ends with its last object, and a check under way is given up.
                Marshal.FinalReleaseComObject((object)check);
            }
        }

        static object Create()
        {
            Type type = Type.GetTypeFromProgID(ProgId, true);
            try
            {
                return Activator.CreateInstance(type);
            }
            catch (COMException e) when (e.HResult == CO_E_SERVER_STOPPING)
            {
                // The server was ending as the object was asked for; COM starts
                // a new one for the next creation.
                return Activator.CreateInstance(type);
            }
        }
    }
}
