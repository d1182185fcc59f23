namespace Bench.App;

// Calls every generated method once, so that the runtime compiles each of them, and prints what they
// compute (the same text on every run).
//   dotnet BenchApp.dll
public static class Program
{
    public static int Main()
    {
        long total = Generated.Methods.RunAll();
        Console.WriteLine($"methods {Generated.Methods.Count} total {total}");
        return 0;
    }
}
