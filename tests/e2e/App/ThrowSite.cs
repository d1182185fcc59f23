using System.Diagnostics;
using System.Runtime.CompilerServices;

namespace E2E.App;

// Where the stack trace says an exception was thrown, against the source line that throws it. A rewritten
// method keeps its lines when the runtime's IL map leads from the rewritten IL back to the original.
public static class ThrowSite
{
    // The exception to throw, carrying the line of the throw statement.
    public static InvalidOperationException Exception([CallerLineNumber] int line = 0) =>
        new(line.ToString());

    public static string Check(Action thrower)
    {
        try
        {
            thrower();
            return "nothing";
        }
        catch (InvalidOperationException e)
        {
            int line = new StackTrace(e, true).GetFrame(0)?.GetFileLineNumber() ?? 0;
            return line.ToString() == e.Message ? "at the line of the throw" : $"at line {line}, the throw is at line {e.Message}";
        }
    }
}
